// Job files as the alarm server drops them: from the file on disk to the AlarmJob the
// dispatch sends, as ReadJobsThread reads it (readJobFile).
//
// Input: the file's bytes. What must hold:
//   - the file is read and every text of the job ends within its buffer;
//   - the same job comes from the same text whichever encoding the file is in (plain, UTF-8
//     with its mark, UTF-16 little or big endian) when the plain file is UTF-8 (a plain file
//     of another encoding may hold a value that is UTF-8 by itself, read as such);
//   - the message is valid UTF-8 of at most 2047 characters;
//   - only a phone number reaches the modem: what dialableNumber lets through is an optional
//     "+" and 1 to 20 digits, "*" or "#", and the number as the logs show it holds no control
//     character (a CR in PhoneNumber would start a line of its own in the daily log).
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness.h"
#include "jobs/intake.h"
#include "platform/text_encoding.h"
#include "sms/sms_submit.h"

using namespace gsms;

namespace {

bool sameJob(const AlarmJob& a, const AlarmJob& b, bool message) {
    return std::strcmp(a.Szenario, b.Szenario) == 0 && std::strcmp(a.Name, b.Name) == 0 &&
           std::strcmp(a.PhoneNumber, b.PhoneNumber) == 0 &&
           std::strcmp(a.AlarmKey, b.AlarmKey) == 0 &&
           (!message || std::strcmp(a.Message, b.Message) == 0) &&
           a.dbentry == b.dbentry && a.Flash == b.Flash && a.ConfirmType == b.ConfirmType &&
           a.Rings == b.Rings && a.SendConfirmAck == b.SendConfirmAck;
}

// Writes the bytes as the job file and reads it back; false when it could not be read.
bool readAs(const std::string& bytes, AlarmJob& job) {
    const std::string path = "job.sms";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) std::abort();
    if (!readJobFile(path, job)) return false;
    FUZZ_CHECK(std::strcmp(job.path, path.c_str()) == 0);
    FUZZ_CHECK(fuzz::terminated(job.Szenario) && fuzz::terminated(job.Name) &&
               fuzz::terminated(job.PhoneNumber) && fuzz::terminated(job.AlarmKey) &&
               fuzz::terminated(job.Message));
    const std::string message = job.Message;
    FUZZ_CHECK(text::fromCodePoints(text::codePoints(message)) == message);
    FUZZ_CHECK(text::utf8Length(message) <= kMessageChars);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    AlarmJob job;
    FUZZ_CHECK(readAs(bytes, job));

    const std::string number = dialableNumber(job.PhoneNumber);
    if (!number.empty()) {
        const std::size_t digits = number.size() - (number[0] == '+' ? 1 : 0);
        FUZZ_CHECK(digits >= 1 && digits <= 20);
        FUZZ_CHECK(number.find_first_not_of("0123456789*#", number[0] == '+' ? 1 : 0) ==
                   std::string::npos);
    }
    for (const char c : shownNumber(job.PhoneNumber))
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);

    if (text::decode(bytes).encoding != text::Encoding::Plain) return 0;
    if (!text::isMultiByteUtf8(bytes)) return 0;
    for (const text::Encoding e :
         {text::Encoding::Utf8Bom, text::Encoding::Utf16Le, text::Encoding::Utf16Be}) {
        AlarmJob again;
        FUZZ_CHECK(readAs(text::encode(e, bytes), again));
        FUZZ_CHECK(sameJob(job, again, true));
    }
    return 0;
}
