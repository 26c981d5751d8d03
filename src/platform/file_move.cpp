// The order of a move, the same on both platforms; file_move_posix.cpp and file_move_win32.cpp
// give the renames, the copy and the line file.
#include "platform/file_move.h"

#include <cerrno>

#include "platform/file_ops.h"

namespace gsms::files {
namespace detail {

// A counted-up name that is still taken after this many tries means something else is wrong.
constexpr int kMaxNames = 100000;

int renameToFree(const std::string& from, const MoveRequest& request, std::string& to) {
    for (int n = 0; n < kMaxNames; ++n) {
        std::string name = request.names(n);
        if (name.empty()) break;
        to = std::move(name);
        const int error = renameNoReplace(from, to);
        if (error != EEXIST) return error;
    }
    return EEXIST;
}

}  // namespace detail

using namespace detail;

int moveFile(const MoveRequest& request, MoveOutcome& outcome) {
    outcome = MoveOutcome{};
    outcome.to = request.names(0);
    FileId id;
    if (!identityOf(request.from, id)) {
        outcome.error = errno;
        return -1;
    }
    if (request.expected.known() && !(id == request.expected)) {
        outcome.error = ENOENT;  // the job's own file is gone; another one took its name
        return -1;
    }
    // The file that takes the line, opened before it moves.
    LineFile line;
    // Not ours to write (another user's file, a read-only one): a copy of our own.
    const bool ownCopy = request.append != nullptr && !line.open(request.from, id);
    int error = EXDEV;
    if (!ownCopy) {
        if (request.beforeVisible) request.beforeVisible(id);
        error = renameToFree(request.from, request, outcome.to);
        if (error == 0) {
            if (line.isOpen()) outcome.error = line.add(*request.append);
            syncFolder(folderOf(outcome.to));
            return 0;
        }
    }
    line.close();
    if (error != EXDEV) {
        outcome.error = error;
        return -1;
    }
    const int copyError = copySource(request, id, outcome);
    if (copyError == 0) return 0;
    if (ownCopy) {
        // No copy of our own could be made: the file moves as it is, without its line.
        if (request.beforeVisible) request.beforeVisible(id);
        error = renameToFree(request.from, request, outcome.to);
        if (error == 0) {
            syncFolder(folderOf(outcome.to));
            outcome.error = copyError;
            return 0;
        }
        outcome.error = error == EXDEV ? copyError : error;
        return -1;
    }
    outcome.error = copyError;
    return -1;
}

}  // namespace gsms::files
