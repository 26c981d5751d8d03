// The DBF engine under CDatabase: one function per engine operation the table class uses,
// over our own record-level access to dBASE files (dbf_format.h) on the platform's files
// (dbf_file.h).
//
// The tables are shared: the alarm server appends rows and reads them while we write. So the
// engine keeps the current record in memory, a change goes into that copy, and the next
// commit (flush, a move to another record, close) writes back only the bytes of the fields
// that changed (and the deletion flag), while holding the record's lock, after reading the
// header afresh and checking that the record is still counted and held by the file and that
// the table still has the shape it was opened with. A commit never writes the record count,
// an end-of-file byte or another record; it may write the header's date of last update.
// Append (for the demo and the tests) alone writes a new record, the end byte and the count,
// under the append lock, the way dBASE programs append.
//
// Records count from 1; the cursor is 0 when it is on no record. Functions returning int
// return 0 on success and -1 on failure unless said otherwise.
//
// Thread contract: a table is used by one thread at a time; different tables (also on the same
// file) may be used at the same time. The context is set up once by dbfInitContext and only
// read afterwards.
#pragma once

#include <cstdint>
#include <vector>

#include "db/dbf_file.h"
#include "db/dbf_format.h"

namespace gsms::db {

// The engine's settings, shared by every table of the process.
struct DbfContext {
    bool initialised = false;
    std::int64_t lock_wait_ms = 0;   // how long a lock held by another program is waited for
    std::int64_t lock_retry_ms = 0;  // pause between two tries
    bool stamp_date = false;         // write the date of last update with each change
};

struct DbfTable;

// A field handle: its table and its 0-based position there.
struct DbfField {
    DbfTable* table = nullptr;
    std::size_t index = 0;
};

struct DbfTable {
    const DbfContext* context = nullptr;
    file::Handle file = file::kNoFile;
    TableLayout layout;           // as opened; record_count as last read
    std::uint32_t present = 0;    // records both counted by the header and held by the file
    std::uint32_t cursor = 0;     // current record, 0 = none
    std::vector<char> record;     // the current record's bytes
    std::vector<bool> changed;    // per field: changed since the last commit
    bool flag_changed = false;    // the deletion flag changed since the last commit
    bool unsynced = false;        // written since the last disk flush
    std::vector<DbfField> fields;
};

void dbfInitContext(DbfContext& ctx);

// Opens an existing table (close-on-exec); null when the file cannot be opened or its header
// cannot be trusted. The cursor is on record 1, or 0 when there is none.
[[nodiscard]] DbfTable* dbfOpen(const DbfContext& ctx, const char* path);
// Creates (or empties) a dBASE III table with the given fields and no records; null on failure.
[[nodiscard]] DbfTable* dbfCreate(const DbfContext& ctx, const char* path,
                                  const DbfFieldDesc* fields);
// Commits a pending change (without a disk flush) and closes. Null is ignored.
void dbfClose(DbfTable* t);

int dbfFieldCount(const DbfTable* t);
DbfField* dbfFieldByPosition(DbfTable* t, int position);   // 1-based; null if none
int dbfFieldLength(const DbfField* f);  // characters of its text (textWidth); 0 for null
char dbfFieldType(const DbfField* f);   // the type letter as stored; '\0' for null
int dbfFieldPosition(const DbfTable* t, const char* name);  // 1-based, any letter case; 0 if none
// The value kept between opening and the first use; it carries nothing in this engine.
int dbfOpenToken(const DbfTable* t);
void dbfApplyToken(DbfTable* t, int token);

// Moves commit a pending change first; when that fails the cursor stays and -1 is returned.
[[nodiscard]] int dbfTop(DbfTable* t);
[[nodiscard]] int dbfBottom(DbfTable* t);
// A record that the header does not count or the file does not hold: -1, cursor 0.
[[nodiscard]] int dbfGo(DbfTable* t, long record);
// Moves by `count`, stopping at the first or last record (so the number stays the same at
// either end); stays where it is when the record cannot be read.
void dbfSkip(DbfTable* t, long count);
long dbfRecNo(const DbfTable* t);
long dbfRecordCount(DbfTable* t);    // records both counted and held by the file
int dbfDeleted(const DbfTable* t);   // 1 when the current record is marked deleted
void dbfEndUpdate(DbfTable* t);
[[nodiscard]] int dbfFlush(DbfTable* t);   // commit and put on the disk
[[nodiscard]] int dbfCommit(DbfTable* t);  // commit without a disk flush

// The field's text, blank-padded to dbfFieldLength and NUL-terminated; `size` >= that + 1.
// -1 (with an empty text) when there is no current record.
int dbfFieldText(const DbfField* f, char* buffer, int size);
int dbfFieldInteger(const DbfField* f);   // 0 when there is no current record
// 0 when the field of the current record could take the value; nothing changes.
[[nodiscard]] int dbfCheckText(const DbfField* f, const char* text);
[[nodiscard]] int dbfCheckNumber(const DbfField* f, double value);
// Changes of the current record; -1 when there is none or the value does not fit the field.
[[nodiscard]] int dbfAssignText(DbfField* f, const char* text);
[[nodiscard]] int dbfAssignNumber(DbfField* f, double value);
// Appends a blank record and makes it current; -1 when the header counts records that the
// file does not hold, or the table would pass 4 GiB.
[[nodiscard]] int dbfAppend(DbfTable* t);
int dbfBlank(DbfTable* t);    // empties every field but memos and the like (binary numbers: 0)
int dbfDelete(DbfTable* t);
int dbfRecall(DbfTable* t);

}  // namespace gsms::db
