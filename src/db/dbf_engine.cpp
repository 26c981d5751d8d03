#include "db/dbf_engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace gsms::db {

namespace {

bool onRecord(const DbfTable* t) {
    return t && t->handle && t->cursor >= 1 &&
           t->cursor <= DBFGetRecordCount(t->handle);
}

char fieldType(const DbfField* f) {
    return DBFGetNativeFieldType(f->table->handle, f->index);
}

DbfTable* wrap(DBFHandle h, const char* path, const DbfContext& ctx) {
    if (!h) return nullptr;
    DBFSetWriteEndOfFileChar(h, ctx.write_eof_char ? 1 : 0);
    auto* t = new DbfTable;
    t->handle = h;
    t->path = path;
    t->cursor = DBFGetRecordCount(h) > 0 ? 1 : 0;
    int n = DBFGetFieldCount(h);
    t->fields.resize(n > 0 ? n : 0);
    for (int i = 0; i < n; ++i) t->fields[i] = DbfField{t, i};
    return t;
}

}  // namespace

void dbfInitContext(DbfContext& ctx) {
    ctx.write_eof_char = true;  // dBASE readers expect the 0x1A end marker
    ctx.initialised = true;
}

DbfTable* dbfOpen(DbfContext& ctx, const char* path) {
    if (!path) return nullptr;
    return wrap(DBFOpen(path, "rb+"), path, ctx);
}

DbfTable* dbfCreate(DbfContext& ctx, const char* path, const DbfFieldDesc* fields) {
    if (!path) return nullptr;
    DBFHandle h = DBFCreate(path);
    if (!h) return nullptr;
    for (const DbfFieldDesc* d = fields; d && d->name; ++d) {
        DBFFieldType type = FTString;
        switch (std::toupper(static_cast<unsigned char>(d->type))) {
            case 'N': type = d->decimals > 0 ? FTDouble : FTInteger; break;
            case 'L': type = FTLogical; break;
            case 'D': type = FTDate; break;
            default: type = FTString; break;
        }
        if (DBFAddField(h, d->name, type, d->length, d->decimals) < 0) {
            DBFClose(h);
            return nullptr;
        }
    }
    return wrap(h, path, ctx);
}

void dbfClose(DbfTable* t) {
    if (!t) return;
    if (t->handle) DBFClose(t->handle);
    delete t;
}

int dbfFieldCount(DbfTable* t) { return t ? static_cast<int>(t->fields.size()) : 0; }

DbfField* dbfFieldByPosition(DbfTable* t, int position) {
    if (!t || position < 1 || position > static_cast<int>(t->fields.size())) return nullptr;
    return &t->fields[position - 1];
}

int dbfFieldLength(const DbfField* f) {
    if (!f) return 0;
    int width = 0;
    DBFGetFieldInfo(f->table->handle, f->index, nullptr, &width, nullptr);
    return width;
}

int dbfFieldPosition(DbfTable* t, const char* name) {
    if (!t || !name) return 0;
    return DBFGetFieldIndex(t->handle, name) + 1;  // -1 (missing) becomes 0
}

// The token carries nothing for shapelib; the pair exists to keep the
// wrapper's open sequence intact.
int dbfOpenToken(DbfTable* t) { return t ? 1 : 0; }
void dbfApplyToken(DbfTable*, int) {}

int dbfTop(DbfTable* t) {
    if (!t || DBFGetRecordCount(t->handle) < 1) return 1;
    t->cursor = 1;
    return 0;
}

int dbfBottom(DbfTable* t) {
    if (!t) return 1;
    long n = DBFGetRecordCount(t->handle);
    if (n < 1) return 1;
    t->cursor = n;
    return 0;
}

int dbfGo(DbfTable* t, long record) {
    if (!t) return 1;
    if (record < 1 || record > DBFGetRecordCount(t->handle)) {
        // Leave no valid record selected so later writes cannot land anywhere.
        t->cursor = 0;
        return 1;
    }
    t->cursor = record;
    return 0;
}

void dbfSkip(DbfTable* t, long count) {
    if (!t) return;
    long n = DBFGetRecordCount(t->handle);
    if (n < 1) return;
    long r = t->cursor + count;
    // Clamp so that a skip past either end leaves the number unchanged,
    // which is how forward searches detect the end.
    if (r < 1) r = 1;
    if (r > n) r = n;
    t->cursor = r;
}

long dbfRecNo(DbfTable* t) { return t ? t->cursor : 0; }

long dbfRecordCount(DbfTable* t) { return t ? DBFGetRecordCount(t->handle) : 0; }

int dbfDeleted(DbfTable* t) {
    return onRecord(t) ? DBFIsRecordDeleted(t->handle, static_cast<int>(t->cursor - 1)) : 0;
}

void dbfEndUpdate(DbfTable*) {}

void dbfWriteHeader(DbfTable* t) {
    if (t) DBFUpdateHeader(t->handle);
}

int dbfFlush(DbfTable* t) {
    if (!t) return 1;
    // DBFUpdateHeader writes the pending record, then the header, and
    // flushes the stdio buffer; fsync then pushes it to the disk.
    DBFUpdateHeader(t->handle);
    if (t->handle->bCurrentRecordModified) return 1;
    int fd = ::open(t->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 1;
    int rc = ::fsync(fd);
    ::close(fd);
    return rc == 0 ? 0 : 1;
}

int dbfFieldText(const DbfField* f, char* buffer, int size) {
    if (!f || !buffer || size < 1) return 1;
    buffer[0] = '\0';
    DbfTable* t = f->table;
    if (!onRecord(t)) return 1;
    // Raw tuple bytes keep the blank padding that DBFReadStringAttribute trims.
    const char* rec = DBFReadTuple(t->handle, static_cast<int>(t->cursor - 1));
    if (!rec) return 1;
    int len = t->handle->panFieldSize[f->index];
    int n = len < size - 1 ? len : size - 1;
    std::memcpy(buffer, rec + t->handle->panFieldOffset[f->index], n);
    buffer[n] = '\0';
    return 0;
}

int dbfFieldInteger(const DbfField* f) {
    if (!f || !onRecord(f->table)) return 0;
    return DBFReadIntegerAttribute(f->table->handle,
                                   static_cast<int>(f->table->cursor - 1), f->index);
}

int dbfAssignText(DbfField* f, const char* text) {
    if (!f || !text || !onRecord(f->table)) return 1;
    DbfTable* t = f->table;
    int rec = static_cast<int>(t->cursor - 1);
    char type = fieldType(f);
    if (type == 'N' || type == 'F') {
        // shapelib's string writer treats numeric fields as doubles, so
        // convert; blank text stays a blank field.
        const char* p = text;
        while (*p == ' ') ++p;
        if (*p == '\0') return DBFWriteAttributeDirectly(t->handle, rec, f->index,
                                                         const_cast<char*>("")) ? 0 : 1;
        return DBFWriteDoubleAttribute(t->handle, rec, f->index, std::strtod(p, nullptr)) ? 0 : 1;
    }
    return DBFWriteStringAttribute(t->handle, rec, f->index, text) ? 0 : 1;
}

int dbfAssignNumber(DbfField* f, double value) {
    if (!f || !onRecord(f->table)) return 1;
    return DBFWriteDoubleAttribute(f->table->handle, static_cast<int>(f->table->cursor - 1),
                                   f->index, value) ? 0 : 1;
}

int dbfAppend(DbfTable* t) {
    if (!t || t->fields.empty()) return 1;
    int rec = DBFGetRecordCount(t->handle);
    // Writing into index == count makes shapelib add a blank record.
    if (!DBFWriteAttributeDirectly(t->handle, rec, 0, const_cast<char*>(""))) return 1;
    t->cursor = rec + 1;
    return 0;
}

int dbfBlank(DbfTable* t) {
    if (!onRecord(t)) return 1;
    int rec = static_cast<int>(t->cursor - 1);
    int rc = 0;
    for (const DbfField& f : t->fields)
        if (!DBFWriteAttributeDirectly(t->handle, rec, f.index, const_cast<char*>(""))) rc = 1;
    return rc;
}

int dbfDelete(DbfTable* t) {
    if (!onRecord(t)) return 1;
    return DBFMarkRecordDeleted(t->handle, static_cast<int>(t->cursor - 1), 1) ? 0 : 1;
}

int dbfRecall(DbfTable* t) {
    if (!onRecord(t)) return 1;
    return DBFMarkRecordDeleted(t->handle, static_cast<int>(t->cursor - 1), 0) ? 0 : 1;
}

}  // namespace gsms::db
