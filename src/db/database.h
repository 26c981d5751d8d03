// CDatabase: one dBASE table with a per-Open field cache, by-name field
// access and an auto-flush mode.
//
// Thread contract: one thread uses an object at a time. The process-wide
// engine context is initialised once (std::call_once), so construction is
// safe from any thread.
//
// Return values: Open 1/0 (no box on failure). Create 1/0 (box on failure).
// Top/Bottom/Go 0 on success, non-zero after the error box. GetField 1, or 0
// when the field does not exist (no box). Replace 1, or 0 when nothing was
// changed: the field does not exist (no box), there is no current record
// (e.g. after a failed Go), the value does not fit the field, or the
// auto-flush could not write it (after the "CDatabase::Replace" box; the
// change is then dropped). Find returns the record number found or 0. Append
// 1 on success. The destructor does not close. ReplaceAll 1 when every value was written, 0
// when none was (see there).
#pragma once

#include "db/dbf_engine.h"

#include <cstddef>
#include <functional>
#include <string>

namespace gsms {

// One field's new value for ReplaceAll: the text, or the number when text is null.
struct FieldValue {
    const char* name;
    const char* text;
    int number;
};

// The value that ReplaceAll found a field unable to take.
struct FieldRefusal {
    std::string name;  // the field as asked for; empty when no value was at fault
    char type = 0;     // its type letter; 0 when the table has no such field
};

using DbErrorBox = std::function<void(const char* text, const char* caption)>;
// Replaces the warning box; with no hook set the box is silent.
void setDbErrorBoxHook(DbErrorBox hook);

class CDatabase {
public:
    CDatabase();
    virtual ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    [[nodiscard]] virtual int Open(const char* path);
    [[nodiscard]] virtual int Create(const char* path, const db::DbfFieldDesc* fields);
    virtual int Close();
    [[nodiscard]] virtual int Top();
    [[nodiscard]] virtual int Bottom();
    [[nodiscard]] virtual int Go(long record);
    virtual long Skip(long count);
    virtual long RecNo();
    virtual long Forward66();   // records counted by the header and held by the file
    virtual int Forward43();    // current record deleted flag
    virtual void EndUpdate();
    virtual void SetAutoFlush(int flag);
    virtual void Flush();
    virtual bool HasField(const char* name);
    virtual long Find(const char* name, int value);
    virtual long Find(const char* name, const char* value);
    virtual int GetField(const char* name, int& out);
    virtual int GetField(const char* name, char* out);  // out holds FieldLength+1
    [[nodiscard]] virtual int Replace(const char* name, int value);
    [[nodiscard]] virtual int Replace(const char* name, const char* value);
    [[nodiscard]] virtual int Append();
    virtual void Blank();
    virtual void Delete();
    virtual void Recall();
    virtual void Forward59();   // writes a pending change without a disk flush
    virtual void CopyRecord(long from, long to);

    int FieldLength(const char* name);
    // Assigns every value to the current record, or none: each field must exist and be able
    // to hold its value before any is changed, and the row goes to disk in one flush (with
    // auto-flush). 1: all written. 0: nothing written; `refused` names the field that lacks or
    // cannot hold its value, or is empty when there is no current record or the flush failed
    // (after the "CDatabase::Replace" box).
    [[nodiscard]] int ReplaceAll(const FieldValue* values, std::size_t count,
                                 FieldRefusal& refused);

private:
    struct FieldSlot {
        db::DbfField* field = nullptr;
        int length = 0;
        char* buffer = nullptr;  // length + 1 bytes
    };

    FieldSlot* slot(const char* name);
    // Flushes when auto-flush is on (box with box_text on failure); 1 when the change is in
    // the table (or waits for a flush), 0 when it was dropped.
    int afterChange(const char* box_text);

    db::DbfTable* table_ = nullptr;
    int open_token_ = 0;
    unsigned field_count_ = 0;
    FieldSlot* fields_ = nullptr;
    int auto_flush_ = 0;
};

}  // namespace gsms
