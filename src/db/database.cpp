#include "db/database.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace gsms {

namespace {

db::DbfContext g_context;
std::once_flag g_context_once;

std::mutex g_hook_mutex;
DbErrorBox g_hook;

void errorBox(const char* text) {
    DbErrorBox hook;
    {
        std::lock_guard<std::mutex> lock(g_hook_mutex);
        hook = g_hook;
    }
    if (hook) hook(text, "Error");
}

}  // namespace

void setDbErrorBoxHook(DbErrorBox hook) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    g_hook = std::move(hook);
}

CDatabase::CDatabase() {
    std::call_once(g_context_once, [] { db::dbfInitContext(g_context); });
}

// Owners close explicitly; closing here would hide a missing Close.
CDatabase::~CDatabase() = default;

int CDatabase::Open(const char* path) {
    if (table_) Close();
    table_ = db::dbfOpen(g_context, path);
    if (!table_) return 0;
    field_count_ = static_cast<unsigned>(db::dbfFieldCount(table_));
    fields_ = new (std::nothrow) FieldSlot[field_count_ ? field_count_ : 1];
    if (!fields_) {
        Close();
        return 0;
    }
    for (unsigned i = 0; i < field_count_; ++i) {
        FieldSlot& s = fields_[i];
        s.field = db::dbfFieldByPosition(table_, static_cast<int>(i + 1));
        s.length = db::dbfFieldLength(s.field);
        s.buffer = new (std::nothrow) char[s.length + 1];
        if (!s.buffer) {
            Close();
            return 0;
        }
        s.buffer[0] = '\0';
    }
    open_token_ = db::dbfOpenToken(table_);
    db::dbfApplyToken(table_, open_token_);
    auto_flush_ = 1;
    return 1;
}

int CDatabase::Create(const char* path, const db::DbfFieldDesc* fields) {
    if (table_) Close();
    // Removed rather than emptied: a link in its place must not empty the file it points to.
    if (path) std::remove(path);
    db::DbfTable* t = db::dbfCreate(g_context, path, fields);
    if (!t) {
        errorBox("CDatabase::Create");
        return 0;
    }
    db::dbfClose(t);
    if (!Open(path)) {
        errorBox("CDatabase::Create");
        return 0;
    }
    return 1;
}

int CDatabase::Close() {
    if (fields_) {
        for (unsigned i = 0; i < field_count_; ++i) delete[] fields_[i].buffer;
        delete[] fields_;
        fields_ = nullptr;
    }
    field_count_ = 0;
    if (table_) db::dbfClose(table_);
    table_ = nullptr;
    return 1;
}

int CDatabase::Top() {
    int rc = db::dbfTop(table_);
    if (rc != 0) errorBox("CDatabase::Top");
    return rc;
}

int CDatabase::Bottom() {
    int rc = db::dbfBottom(table_);
    if (rc != 0) errorBox("CDatabase::Bottom");
    return rc;
}

int CDatabase::Go(long record) {
    int rc = db::dbfGo(table_, record);
    if (rc != 0) errorBox("CDatabase::Go");
    return rc;
}

long CDatabase::Skip(long count) {
    db::dbfSkip(table_, count);
    return RecNo();
}

long CDatabase::RecNo() { return db::dbfRecNo(table_); }
long CDatabase::Forward66() { return db::dbfRecordCount(table_); }
int CDatabase::Forward43() { return db::dbfDeleted(table_); }
void CDatabase::EndUpdate() { db::dbfEndUpdate(table_); }
void CDatabase::SetAutoFlush(int flag) { auto_flush_ = flag; }

void CDatabase::Flush() {
    if (db::dbfFlush(table_) != 0) errorBox("CDatabase::Flush");
    EndUpdate();
}

CDatabase::FieldSlot* CDatabase::slot(const char* name) {
    if (!table_ || !fields_) return nullptr;
    int pos = db::dbfFieldPosition(table_, name);
    if (pos < 1 || static_cast<unsigned>(pos) > field_count_) return nullptr;
    return &fields_[pos - 1];
}

bool CDatabase::HasField(const char* name) { return slot(name) != nullptr; }

int CDatabase::FieldLength(const char* name) {
    FieldSlot* s = slot(name);
    return s ? s->length : 0;
}

long CDatabase::Find(const char* name, int value) {
    if (!slot(name)) return 0;
    for (;;) {
        int v = 0;
        if (GetField(name, v) && v == value) return RecNo();
        long before = RecNo();
        if (Skip(1) == before) return 0;
    }
}

long CDatabase::Find(const char* name, const char* value) {
    if (!slot(name) || !value) return 0;
    std::string buf(static_cast<size_t>(FieldLength(name)) + 1, '\0');
    for (;;) {
        if (GetField(name, buf.data()) && std::strcmp(buf.c_str(), value) == 0) return RecNo();
        long before = RecNo();
        if (Skip(1) == before) return 0;
    }
}

int CDatabase::GetField(const char* name, int& out) {
    FieldSlot* s = slot(name);
    if (!s) return 0;
    out = db::dbfFieldInteger(s->field);
    return 1;
}

int CDatabase::GetField(const char* name, char* out) {
    FieldSlot* s = slot(name);
    if (!s) return 0;
    db::dbfFieldText(s->field, s->buffer, s->length + 1);
    int n = static_cast<int>(std::strlen(s->buffer));
    while (n > 0 && s->buffer[n - 1] == ' ') --n;
    s->buffer[n] = '\0';
    if (out) std::memcpy(out, s->buffer, static_cast<size_t>(n) + 1);
    return 1;
}

int CDatabase::Replace(const char* name, int value) {
    FieldSlot* s = slot(name);
    if (!s) return 0;
    // A failed Go leaves no current record; refuse rather than write elsewhere.
    if (db::dbfAssignNumber(s->field, static_cast<double>(value)) != 0) return 0;
    return afterChange("CDatabase::Replace");
}

int CDatabase::Replace(const char* name, const char* value) {
    FieldSlot* s = slot(name);
    if (!s) return 0;
    if (db::dbfAssignText(s->field, value ? value : "") != 0) return 0;
    return afterChange("CDatabase::Replace");
}

int CDatabase::ReplaceAll(const FieldValue* values, std::size_t count, FieldRefusal& refused) {
    refused = FieldRefusal{};
    if (!table_ || db::dbfRecNo(table_) == 0) return 0;
    for (std::size_t i = 0; i < count; ++i) {
        const FieldValue& v = values[i];
        FieldSlot* s = slot(v.name);
        const bool fits = s != nullptr && (v.text ? db::dbfCheckText(s->field, v.text)
                                                  : db::dbfCheckNumber(s->field, v.number)) == 0;
        if (!fits) {
            refused.name = v.name;
            refused.type = s ? db::dbfFieldType(s->field) : '\0';
            return 0;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        const FieldValue& v = values[i];
        db::DbfField* f = slot(v.name)->field;
        // Checked above on this record: cannot be refused now.
        (void)(v.text ? db::dbfAssignText(f, v.text) : db::dbfAssignNumber(f, v.number));
    }
    return afterChange("CDatabase::Replace");
}

int CDatabase::afterChange(const char* box_text) {
    int ok = 1;
    if (auto_flush_ && db::dbfFlush(table_) != 0) {
        errorBox(box_text);
        ok = 0;
    }
    EndUpdate();
    return ok;
}

int CDatabase::Append() {
    int rc = db::dbfAppend(table_);
    EndUpdate();
    return rc == 0 ? 1 : 0;
}

void CDatabase::Blank() {
    (void)db::dbfBlank(table_);
    (void)afterChange("CDatabase::Blank");
}

void CDatabase::Delete() {
    (void)db::dbfDelete(table_);
    (void)afterChange("CDatabase::Delete");
}

void CDatabase::Recall() {
    (void)db::dbfRecall(table_);
    (void)afterChange("CDatabase::Recall");
}

void CDatabase::Forward59() {
    (void)db::dbfCommit(table_);
    EndUpdate();
}

void CDatabase::CopyRecord(long from, long to) {
    if (!fields_) return;
    // Either record missing (Go has shown its box): copying blanks over `to` would lose it.
    if (Go(from) != 0) return;
    for (unsigned i = 0; i < field_count_; ++i)
        db::dbfFieldText(fields_[i].field, fields_[i].buffer, fields_[i].length + 1);
    if (Go(to) != 0) return;
    // Memo and binary fields read as blanks and refuse them: they stay as they were.
    for (unsigned i = 0; i < field_count_; ++i)
        (void)db::dbfAssignText(fields_[i].field, fields_[i].buffer);
    (void)afterChange("CDatabase::CopyRecord");
}

}  // namespace gsms
