#include "CliOutput.h"

#include "Clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

bool outputFailed = false;

// Length of the UTF-8 sequence at `at` for a character that is printable (U+00A0 and above),
// 0 for anything else.
size_t PrintableUtf8Length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned long code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return code >= 0xA0 ? length : 0;
}

} // namespace

bool FlushOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    const int error = errno;
    if (!outputFailed) {
        outputFailed = true;
        std::fprintf(stderr, "tarvo-cli: cannot write standard output: %s\n",
                     error != 0 ? std::strerror(error) : "write error");
    }
    return false;
}

int FinishOutput(int status) {
    if (!FlushOutput() && status == 0) return 1;
    return status;
}

bool TLinePacer::Written() {
    pending_ = true;
    // The buffer went out on its own when it filled up; a write that failed then shows here.
    if (!failed_ && std::ferror(stdout)) failed_ = !FlushOutput();
    return !failed_;
}

bool TLinePacer::FlushNow() {
    if (failed_) return false;
    if (!pending_) return true;
    pending_ = false;
    lastFlush_ = platform::MonotonicMicros();
    failed_ = !FlushOutput();
    return !failed_;
}

void TLinePacer::WhileWaiting() {
    if (pending_ && platform::MicrosSince(lastFlush_) >= kMinGapMicros) FlushNow();
}

bool TLinePacer::FlushIfDue() {
    if (failed_) return false;
    if (!pending_ || platform::MicrosSince(lastFlush_) < kMaxGapMicros) return true;
    return FlushNow();
}

std::string TerminalText(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            i += 2;
        } else if (c == '\n' || (c >= 32 && c <= 126)) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const size_t n = c >= 0x80 ? PrintableUtf8Length(text, i) : 0; n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            ++i;
        }
    }
    return out;
}

} // namespace cli
