// Thin DBF engine layer over shapelib: one function per engine operation the
// table wrapper uses, with a record cursor kept here because shapelib
// addresses records by index only. Records count from 1; cursor 0 means
// "not on a record". Not thread-safe: one thread per table.
#pragma once

#include <shapefil.h>

#include <string>
#include <vector>

namespace gsms::db {

struct DbfTable;

// A field handle: the table it belongs to and its 0-based shapelib index.
struct DbfField {
    DbfTable* table = nullptr;
    int index = 0;
};

struct DbfTable {
    DBFHandle handle = nullptr;
    std::string path;           // kept so flush can fsync the file by name
    long cursor = 0;            // 1-based record number, 0 = none
    std::vector<DbfField> fields;
};

// Field description for dbfCreate; a list ends with name == nullptr.
// type: 'C' character, 'N' numeric, 'L' logical, 'D' date.
struct DbfFieldDesc {
    const char* name;
    char type;
    int length;
    int decimals;
};

// Process-wide settings; initialised once by dbfInitContext.
struct DbfContext {
    bool initialised = false;
    bool write_eof_char = true;
};

void dbfInitContext(DbfContext& ctx);

DbfTable* dbfOpen(DbfContext& ctx, const char* path);          // null on failure
DbfTable* dbfCreate(DbfContext& ctx, const char* path,
                    const DbfFieldDesc* fields);                 // null on failure
void dbfClose(DbfTable* t);
int dbfFieldCount(DbfTable* t);
DbfField* dbfFieldByPosition(DbfTable* t, int position);        // 1-based; null if bad
int dbfFieldLength(const DbfField* f);
int dbfFieldPosition(DbfTable* t, const char* name);            // 1-based; <1 missing
int dbfOpenToken(DbfTable* t);
void dbfApplyToken(DbfTable* t, int token);
int dbfTop(DbfTable* t);                                        // 0 on success
int dbfBottom(DbfTable* t);                                     // 0 on success
int dbfGo(DbfTable* t, long record);                            // 0 on success
void dbfSkip(DbfTable* t, long count);
long dbfRecNo(DbfTable* t);
long dbfRecordCount(DbfTable* t);                               // slot 8 query
int dbfDeleted(DbfTable* t);                                    // slot 9 query
void dbfEndUpdate(DbfTable* t);
int dbfFlush(DbfTable* t);                                      // 0 on success
void dbfWriteHeader(DbfTable* t);                               // slot 24: no fsync
// Field text, blank-padded to the field length, NUL-terminated; size >= length+1.
// Returns 0 on success.
int dbfFieldText(const DbfField* f, char* buffer, int size);
int dbfFieldInteger(const DbfField* f);
int dbfAssignText(DbfField* f, const char* text);               // 0 on success
int dbfAssignNumber(DbfField* f, double value);                 // 0 on success
int dbfAppend(DbfTable* t);                                     // 0 on success
int dbfBlank(DbfTable* t);                                      // 0 on success
int dbfDelete(DbfTable* t);                                     // 0 on success
int dbfRecall(DbfTable* t);                                     // 0 on success

}  // namespace gsms::db
