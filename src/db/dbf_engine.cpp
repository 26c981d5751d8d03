#include "db/dbf_engine.h"

#include <algorithm>
#include <cstring>

#include "platform/clock.h"

namespace gsms::db {

namespace {

// dBASE addresses its files with 32-bit offsets (and the lock bytes sit below 4 GiB).
constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;

std::uint64_t recordOffset(const TableLayout& t, std::uint32_t record) {
    return t.header_length + std::uint64_t{record - 1} * t.record_length;
}

// Waits for an exclusive lock on `range` for at most the context's lock wait.
class RangeLock {
public:
    RangeLock(const DbfTable* t, LockRange range) : t_(t), range_(range) {
        const std::int64_t deadline = clock::monotonicMs() + t->context->lock_wait_ms;
        for (;;) {
            const file::LockResult r = file::tryLock(t->file, range.offset, range.length);
            if (r == file::LockResult::Taken) {
                held_ = true;
                return;
            }
            if (r == file::LockResult::Failed || clock::monotonicMs() >= deadline) return;
            clock::sleepMs(t->context->lock_retry_ms);
        }
    }
    ~RangeLock() {
        if (held_) file::unlock(t_->file, range_.offset, range_.length);
    }
    RangeLock(const RangeLock&) = delete;
    RangeLock& operator=(const RangeLock&) = delete;
    bool held() const { return held_; }

private:
    const DbfTable* t_;
    LockRange range_;
    bool held_ = false;
};

// Reads the header again. 0 when the table still has the shape it was opened with; then the
// record count and the records present are brought up to date.
int refresh(DbfTable* t, std::vector<unsigned char>& header) {
    header.resize(t->layout.header_length);
    const std::int64_t size = file::size(t->file);
    if (size < 0 ||
        file::readAt(t->file, 0, header.data(), header.size()) !=
            static_cast<std::int64_t>(header.size()))
        return -1;
    TableLayout now;
    if (parseHeader(header.data(), header.size(), static_cast<std::uint64_t>(size), now) != 0 ||
        !sameShape(now, t->layout))
        return -1;
    const std::uint64_t held =
        (static_cast<std::uint64_t>(size) - now.header_length) / now.record_length;
    t->layout.record_count = now.record_count;
    t->present = static_cast<std::uint32_t>(std::min<std::uint64_t>(now.record_count, held));
    return 0;
}

int refresh(DbfTable* t) {
    std::vector<unsigned char> header;
    return refresh(t, header);
}

// Reads record n into the buffer. The cursor moves only when it could be read.
int load(DbfTable* t, std::uint32_t n) {
    if (n < 1) return -1;
    if (n > t->present && (refresh(t) != 0 || n > t->present)) return -1;
    std::vector<char> bytes(t->layout.record_length);
    if (file::readAt(t->file, recordOffset(t->layout, n), bytes.data(), bytes.size()) !=
        static_cast<std::int64_t>(bytes.size()))
        return -1;
    t->record.swap(bytes);
    t->cursor = n;
    std::fill(t->changed.begin(), t->changed.end(), false);
    t->flag_changed = false;
    return 0;
}

bool pending(const DbfTable* t) {
    return t->flag_changed ||
           std::find(t->changed.begin(), t->changed.end(), true) != t->changed.end();
}

int writeChanges(DbfTable* t) {
    const std::uint64_t at = recordOffset(t->layout, t->cursor);
    if (t->flag_changed && file::writeAt(t->file, at, t->record.data(), 1) != 0) return -1;
    for (std::size_t i = 0; i < t->changed.size(); ++i) {
        if (!t->changed[i]) continue;
        const FieldLayout& f = t->layout.fields[i];
        if (file::writeAt(t->file, at + f.offset, t->record.data() + f.offset, f.length) != 0)
            return -1;
    }
    return 0;
}

int stampDate(DbfTable* t, const std::vector<unsigned char>& header) {
    if (!t->context->stamp_date) return 0;
    unsigned char date[3];
    dateStamp(t->layout, clock::localNow(), date);
    if (std::memcmp(date, header.data() + kDateOffset, sizeof date) == 0) return 0;
    return file::writeAt(t->file, kDateOffset, date, sizeof date);
}

// Writes the current record's changes. Whatever happens, nothing is pending afterwards: a
// change that could not be written is dropped and the record read again, so that what the
// table object shows is what the file holds.
int commit(DbfTable* t) {
    if (t->cursor == 0 || !pending(t)) return 0;
    int rc = -1;
    {
        const RangeLock lock(t, recordLock(t->layout, t->cursor));
        std::vector<unsigned char> header;
        // The record must still be one the header counts: a record past the count belongs to
        // an append in progress, and a table rebuilt since opening has other offsets.
        if (lock.held() && refresh(t, header) == 0 && t->cursor <= t->present &&
            writeChanges(t) == 0) {
            t->unsynced = true;
            rc = stampDate(t, header);
        }
    }
    if (rc != 0 && load(t, t->cursor) != 0) t->cursor = 0;
    std::fill(t->changed.begin(), t->changed.end(), false);
    t->flag_changed = false;
    return rc;
}

DbfTable* openFile(const DbfContext& ctx, file::Handle f) {
    if (f == file::kNoFile) return nullptr;
    const std::int64_t size = file::size(f);
    unsigned char prefix[kHeaderPrefix];
    std::vector<unsigned char> header;
    TableLayout layout;
    bool ok = size >= static_cast<std::int64_t>(kHeaderPrefix) &&
              file::readAt(f, 0, prefix, sizeof prefix) == static_cast<std::int64_t>(sizeof prefix);
    if (ok) {
        header.resize(std::max<std::size_t>(headerLength(prefix), kHeaderPrefix));
        ok = file::readAt(f, 0, header.data(), header.size()) ==
                 static_cast<std::int64_t>(header.size()) &&
             parseHeader(header.data(), header.size(), static_cast<std::uint64_t>(size), layout) == 0;
    }
    if (!ok) {
        file::close(f);
        return nullptr;
    }
    auto* t = new DbfTable;
    t->context = &ctx;
    t->file = f;
    t->layout = std::move(layout);
    t->changed.assign(t->layout.fields.size(), false);
    t->fields.resize(t->layout.fields.size());
    for (std::size_t i = 0; i < t->fields.size(); ++i) t->fields[i] = DbfField{t, i};
    t->present = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        t->layout.record_count,
        (static_cast<std::uint64_t>(size) - t->layout.header_length) / t->layout.record_length));
    (void)load(t, 1);
    return t;
}

const FieldLayout* onRecord(const DbfField* f) {
    if (f == nullptr || f->table == nullptr || f->table->cursor == 0) return nullptr;
    return &f->table->layout.fields[f->index];
}

bool equalNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'a' && x <= 'z' ? x - 32 : x) != (y >= 'a' && y <= 'z' ? y - 32 : y)) return false;
    }
    return true;
}

// Puts a new stored value into the current record's copy.
int assign(DbfField* f, const std::vector<char>& stored) {
    DbfTable* t = f->table;
    const FieldLayout& field = t->layout.fields[f->index];
    std::memcpy(t->record.data() + field.offset, stored.data(), field.length);
    t->changed[f->index] = true;
    return 0;
}

int setFlag(DbfTable* t, char flag) {
    if (t == nullptr || t->cursor == 0) return -1;
    t->record[0] = flag;
    t->flag_changed = true;
    return 0;
}

}  // namespace

void dbfInitContext(DbfContext& ctx) {
    // "A few seconds": long enough for another program to finish writing a record, short
    // enough that a forgotten lock never stalls the reporting of the following jobs.
    ctx.lock_wait_ms = 5000;
    ctx.lock_retry_ms = 20;
    ctx.stamp_date = true;
    ctx.initialised = true;
}

DbfTable* dbfOpen(const DbfContext& ctx, const char* path) {
    return openFile(ctx, file::openShared(path));
}

DbfTable* dbfCreate(const DbfContext& ctx, const char* path, const DbfFieldDesc* fields) {
    std::vector<unsigned char> bytes = newTableHeader(fields, clock::localNow());
    if (bytes.empty()) return nullptr;
    bytes.push_back(kEndOfFile);
    const file::Handle f = file::create(path);
    if (f == file::kNoFile) return nullptr;
    if (file::writeAt(f, 0, bytes.data(), bytes.size()) != 0) {
        file::close(f);
        return nullptr;
    }
    return openFile(ctx, f);
}

void dbfClose(DbfTable* t) {
    if (t == nullptr) return;
    (void)commit(t);
    file::close(t->file);
    delete t;
}

int dbfFieldCount(const DbfTable* t) { return t ? static_cast<int>(t->fields.size()) : 0; }

DbfField* dbfFieldByPosition(DbfTable* t, int position) {
    if (t == nullptr || position < 1 || position > static_cast<int>(t->fields.size())) return nullptr;
    return &t->fields[static_cast<std::size_t>(position - 1)];
}

int dbfFieldLength(const DbfField* f) {
    return f ? static_cast<int>(textWidth(f->table->layout.fields[f->index])) : 0;
}

char dbfFieldType(const DbfField* f) { return f ? f->table->layout.fields[f->index].type : '\0'; }

int dbfFieldPosition(const DbfTable* t, const char* name) {
    if (t == nullptr || name == nullptr) return 0;
    for (std::size_t i = 0; i < t->layout.fields.size(); ++i)
        if (equalNoCase(t->layout.fields[i].name, name)) return static_cast<int>(i + 1);
    return 0;
}

int dbfOpenToken(const DbfTable* t) { return t ? 1 : 0; }
void dbfApplyToken(DbfTable*, int) {}

int dbfTop(DbfTable* t) {
    if (t == nullptr || commit(t) != 0 || refresh(t) != 0) return -1;
    return load(t, 1);
}

int dbfBottom(DbfTable* t) {
    if (t == nullptr || commit(t) != 0 || refresh(t) != 0) return -1;
    return load(t, t->present);
}

int dbfGo(DbfTable* t, long record) {
    if (t == nullptr || commit(t) != 0) return -1;
    if (record < 1 || static_cast<unsigned long>(record) > 0xFFFFFFFFul ||
        load(t, static_cast<std::uint32_t>(record)) != 0) {
        // No record selected, so a later write cannot land anywhere.
        t->cursor = 0;
        return -1;
    }
    return 0;
}

void dbfSkip(DbfTable* t, long count) {
    if (t == nullptr || commit(t) != 0) return;
    const std::int64_t wanted = std::int64_t{t->cursor} + count;
    if (wanted > t->present) (void)refresh(t);
    if (t->present == 0) return;
    (void)load(t, static_cast<std::uint32_t>(std::clamp<std::int64_t>(wanted, 1, t->present)));
}

long dbfRecNo(const DbfTable* t) { return t ? static_cast<long>(t->cursor) : 0; }

long dbfRecordCount(DbfTable* t) {
    if (t == nullptr) return 0;
    (void)refresh(t);
    return static_cast<long>(t->present);
}

int dbfDeleted(const DbfTable* t) { return t && t->cursor != 0 && t->record[0] == '*' ? 1 : 0; }

void dbfEndUpdate(DbfTable*) {}

int dbfCommit(DbfTable* t) { return t ? commit(t) : -1; }

int dbfFlush(DbfTable* t) {
    if (t == nullptr || commit(t) != 0) return -1;
    if (!t->unsynced) return 0;
    if (file::sync(t->file) != 0) return -1;
    t->unsynced = false;
    return 0;
}

int dbfFieldText(const DbfField* f, char* buffer, int size) {
    if (buffer == nullptr || size < 1) return -1;
    buffer[0] = '\0';
    const FieldLayout* field = onRecord(f);
    if (field == nullptr || static_cast<std::uint32_t>(size) < textWidth(*field) + 1) return -1;
    fieldText(*field, f->table->record.data() + field->offset, buffer);
    return 0;
}

int dbfFieldInteger(const DbfField* f) {
    const FieldLayout* field = onRecord(f);
    return field ? fieldInteger(*field, f->table->record.data() + field->offset) : 0;
}

int dbfCheckText(const DbfField* f, const char* text) {
    const FieldLayout* field = onRecord(f);
    if (field == nullptr) return -1;
    std::vector<char> stored(field->length);
    return storeText(*field, text, stored.data());
}

int dbfCheckNumber(const DbfField* f, double value) {
    const FieldLayout* field = onRecord(f);
    if (field == nullptr) return -1;
    std::vector<char> stored(field->length);
    return storeNumber(*field, value, stored.data());
}

int dbfAssignText(DbfField* f, const char* text) {
    const FieldLayout* field = onRecord(f);
    if (field == nullptr) return -1;
    std::vector<char> stored(field->length);
    if (storeText(*field, text, stored.data()) != 0) return -1;
    return assign(f, stored);
}

int dbfAssignNumber(DbfField* f, double value) {
    const FieldLayout* field = onRecord(f);
    if (field == nullptr) return -1;
    std::vector<char> stored(field->length);
    if (storeNumber(*field, value, stored.data()) != 0) return -1;
    return assign(f, stored);
}

int dbfAppend(DbfTable* t) {
    if (t == nullptr || commit(t) != 0) return -1;
    const RangeLock lock(t, appendLock(t->layout));
    std::vector<unsigned char> header;
    if (!lock.held() || refresh(t, header) != 0) return -1;
    const TableLayout& l = t->layout;
    const std::uint32_t count = l.record_count;
    // Appending behind records that the header counts but the file lacks would leave a hole.
    if (t->present < count) return -1;
    if (count == 0xFFFFFFFFu) return -1;
    const std::uint64_t at = recordOffset(l, count + 1);
    if (at + l.record_length + 1 > kMaxFileSize) return -1;

    std::vector<char> record(l.record_length + 1);
    record[0] = ' ';
    for (const FieldLayout& f : l.fields) storeEmpty(l, f, record.data() + f.offset);
    record[l.record_length] = static_cast<char>(kEndOfFile);
    const std::uint32_t n = count + 1;
    const unsigned char countBytes[4] = {
        static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
        static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    if (file::writeAt(t->file, at, record.data(), record.size()) != 0 ||
        file::writeAt(t->file, kRecordCountOffset, countBytes, sizeof countBytes) != 0 ||
        stampDate(t, header) != 0)
        return -1;
    t->unsynced = true;
    t->layout.record_count = n;
    t->present = n;
    record.pop_back();
    t->record.swap(record);
    t->cursor = n;
    return 0;
}

int dbfBlank(DbfTable* t) {
    if (t == nullptr || t->cursor == 0) return -1;
    for (std::size_t i = 0; i < t->layout.fields.size(); ++i) {
        const FieldLayout& f = t->layout.fields[i];
        if (f.kind == FieldKind::Other) continue;  // memo block numbers and the like stay
        storeEmpty(t->layout, f, t->record.data() + f.offset);
        t->changed[i] = true;
    }
    return 0;
}

int dbfDelete(DbfTable* t) { return setFlag(t, '*'); }
int dbfRecall(DbfTable* t) { return setFlag(t, ' '); }

}  // namespace gsms::db
