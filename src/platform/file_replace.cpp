// What the file services of both platforms share: the names of their temporaries, the end of
// a steady read.
#include "platform/file_replace.h"

#include "platform/file_ops.h"

namespace gsms::files {

bool isTemporaryName(std::string_view name) {
    const std::string_view mark(detail::kTempMark);
    return name.size() > 1 + mark.size() + detail::kTempRandom && name.front() == '.' &&
           name.substr(name.size() - detail::kTempRandom - mark.size(), mark.size()) == mark;
}

namespace detail {

void conclude(SteadyRead& r, bool stillThere, bool unchanged) {
    if (!stillThere) {
        r.outcome = SteadyRead::Gone;
    } else if (r.error != 0) {
        r.outcome = SteadyRead::Unreadable;
    } else if (!unchanged || r.bytes.size() != static_cast<std::size_t>(r.size)) {
        r.outcome = SteadyRead::Changed;
    } else {
        r.outcome = SteadyRead::Read;
        return;
    }
    r.bytes.clear();
}

}  // namespace detail

}  // namespace gsms::files
