// Status tables as another program leaves them: the DBF engine on a table of any bytes, the
// way ReportThread uses it (open, go to a row, read, change one field, flush, close), on a real
// file (a memfd, reached by its /proc path, with real record locks).
//
// Input: the operation (the row, the field, what to write) and then the table's bytes. What
// must hold:
//   - a table whose header cannot be trusted is refused and left byte for byte;
//   - the rows the engine counts are in the file; a field reads as exactly its width;
//   - a change writes the stored form of the value into that field of that row and nothing
//     else: no byte outside it changes but the date of last update (and the deletion flag of
//     the row when it is deleted or recalled); a blanked row keeps its memo and binary fields;
//   - an append leaves every byte of the rows before it.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/dbf_engine.h"
#include "harness.h"

using namespace gsms;
using namespace gsms::db;

namespace {

enum class Op { Text, Number, Delete, Recall, Blank, Append };

std::string contents(int fd) {
    std::string out(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    if (::pread(fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size())) std::abort();
    return out;
}

// A byte range of the file that may change.
struct Range {
    std::uint64_t from, to;
};

bool mayChange(const std::vector<Range>& allowed, std::uint64_t at) {
    for (const Range& r : allowed)
        if (at >= r.from && at < r.to) return true;
    return false;
}

const DbfContext& context() {
    static const DbfContext ctx = [] {
        DbfContext c;
        dbfInitContext(c);
        return c;
    }();
    return ctx;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto op = static_cast<Op>(in.ConsumeIntegralInRange<int>(0, 5));
    const long row = in.ConsumeIntegralInRange<long>(-1, 40);
    const int position = in.ConsumeIntegralInRange<int>(1, 40);
    const double number = in.ConsumeFloatingPoint<double>();
    const std::string text = in.ConsumeRandomLengthString(300);
    const std::string table = in.ConsumeRemainingBytesAsString();

    const int fd = ::memfd_create("table", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, table.data(), table.size()) != static_cast<ssize_t>(table.size()))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    DbfTable* t = dbfOpen(context(), path.c_str());
    if (t == nullptr) {
        FUZZ_CHECK(contents(fd) == table);
        ::close(fd);
        return 0;
    }
    const TableLayout layout = t->layout;
    const long count = dbfRecordCount(t);
    FUZZ_CHECK(count >= 0 && count <= static_cast<long>(layout.record_count));
    FUZZ_CHECK(layout.header_length + static_cast<std::uint64_t>(count) * layout.record_length <=
               table.size());

    std::vector<Range> allowed{{kDateOffset, kDateOffset + 3}};
    std::uint64_t fieldAt = 0;  // where the changed field is in the file
    const FieldLayout* changed = nullptr;
    const std::uint64_t recordAt =
        layout.header_length + static_cast<std::uint64_t>(row - 1) * layout.record_length;
    if (op == Op::Append) {
        const int rc = dbfAppend(t);
        if (rc == 0) FUZZ_CHECK(dbfRecNo(t) == count + 1);
        const std::uint64_t end =
            layout.header_length + static_cast<std::uint64_t>(count) * layout.record_length;
        allowed.push_back({kRecordCountOffset, kRecordCountOffset + 4});
        allowed.push_back({end, ~std::uint64_t{0}});
    } else if (dbfGo(t, row) != 0) {
        FUZZ_CHECK(row < 1 || row > count);
        FUZZ_CHECK(dbfRecNo(t) == 0);
        FUZZ_CHECK(dbfAssignText(dbfFieldByPosition(t, 1), "x") == -1);  // on no record
    } else {
        FUZZ_CHECK(row >= 1 && row <= count && dbfRecNo(t) == row);
        for (int i = 1; i <= dbfFieldCount(t); ++i) {
            const DbfField* f = dbfFieldByPosition(t, i);
            const int width = dbfFieldLength(f);
            std::vector<char> buffer(static_cast<std::size_t>(width) + 1, 'z');
            FUZZ_CHECK(dbfFieldText(f, buffer.data(), width + 1) == 0);
            // A NUL stored in the field (some programs pad with them) may end the text early.
            FUZZ_CHECK(buffer[static_cast<std::size_t>(width)] == '\0');
            (void)dbfFieldInteger(f);
        }
        DbfField* f = dbfFieldByPosition(t, position);
        switch (op) {
            case Op::Text:
            case Op::Number:
                if (f == nullptr) break;
                changed = &layout.fields[f->index];
                fieldAt = recordAt + changed->offset;
                if ((op == Op::Text ? dbfAssignText(f, text.c_str())
                                    : dbfAssignNumber(f, number)) == 0)
                    allowed.push_back({fieldAt, fieldAt + changed->length});
                else
                    changed = nullptr;
                break;
            case Op::Delete:
            case Op::Recall:
                FUZZ_CHECK((op == Op::Delete ? dbfDelete(t) : dbfRecall(t)) == 0);
                allowed.push_back({recordAt, recordAt + 1});
                break;
            case Op::Blank:
                FUZZ_CHECK(dbfBlank(t) == 0);
                for (const FieldLayout& field : layout.fields)
                    if (field.kind != FieldKind::Other)
                        allowed.push_back(
                            {recordAt + field.offset, recordAt + field.offset + field.length});
                break;
            case Op::Append:
                break;
        }
        dbfSkip(t, static_cast<long>(number > 0 ? 1 : -1));  // moving on commits the change
    }
    const bool flushed = dbfFlush(t) == 0;
    dbfClose(t);

    const std::string after = contents(fd);
    if (op != Op::Append) FUZZ_CHECK(after.size() == table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        if (after[i] != table[i]) FUZZ_CHECK(mayChange(allowed, i));

    // The changed field holds the value's stored form, as the field's own rule makes it.
    if (changed != nullptr && flushed) {
        std::vector<char> stored(changed->length);
        FUZZ_CHECK((op == Op::Text ? storeText(*changed, text.c_str(), stored.data())
                                   : storeNumber(*changed, number, stored.data())) == 0);
        FUZZ_CHECK(std::memcmp(after.data() + fieldAt, stored.data(), stored.size()) == 0);
    }
    ::close(fd);
    return 0;
}
