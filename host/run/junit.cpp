#include "junit.h"

#include "step.h"

#include <cstdio>
#include <fstream>

namespace {

// The length of the well-formed UTF-8 sequence of a character other than ASCII at text[i]; 0
// when the bytes there are not one (a stray byte, a cut sequence, an overlong form, a surrogate,
// or U+FFFE and U+FFFF, which XML cannot hold either).
std::size_t utf8Length(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
    };
    const unsigned lead = byte(0);
    const std::size_t n = lead >= 0xf0 && lead <= 0xf4 ? 4
                          : lead >= 0xe0               ? 3
                          : lead >= 0xc2               ? 2
                                                       : 0;
    if (n == 0 || (n == 3 && lead > 0xef)) return 0;
    unsigned long code = lead & (0x7f >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(k) & 0xc0) != 0x80) return 0;
        code = code << 6 | (byte(k) & 0x3f);
    }
    const unsigned long least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff) || code == 0xfffe ||
        code == 0xffff)
        return 0;
    return n;
}

} // namespace

std::string xmlText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (c >= 0x80) {
                const std::size_t n = utf8Length(text, i);
                if (n == 0) {
                    out += hexEscape(c);
                } else {
                    out.append(text, i, n);
                    i += n - 1;
                }
            } else if (c < 32 && c != '\n' && c != '\t' && c != '\r') {
                out += hexEscape(c);
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

bool writeJUnit(const std::string& path, const std::string& suite,
                const std::vector<JUnitCase>& cases, std::string& error) {
    int failures = 0, errors = 0, skipped = 0;
    double seconds = 0;
    for (const JUnitCase& c : cases) {
        failures += c.kind == JUnitCase::Failure;
        errors += c.kind == JUnitCase::Error;
        skipped += c.kind == JUnitCase::Skipped;
        seconds += c.seconds;
    }
    std::ofstream out(path);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    const std::string counts = " tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                               "\" skipped=\"" + std::to_string(skipped) + "\" time=\"" + time +
                               "\"";
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" << xmlText(suite)
        << "\"" << counts << ">\n  <testsuite name=\"" << xmlText(suite) << "\"" << counts << ">\n";
    for (const JUnitCase& c : cases) {
        std::snprintf(time, sizeof time, "%.3f", c.seconds);
        out << "    <testcase name=\"" << xmlText(c.name) << "\" classname=\"" << xmlText(suite)
            << "\" time=\"" << time << "\"";
        if (c.kind == JUnitCase::Passed) {
            out << "/>\n";
            continue;
        }
        if (c.kind == JUnitCase::Skipped) {
            out << ">\n      <skipped message=\"" << xmlText(c.message)
                << "\"/>\n    </testcase>\n";
            continue;
        }
        const char* tag = c.kind == JUnitCase::Failure ? "failure" : "error";
        out << ">\n      <" << tag << " message=\"" << xmlText(c.message) << "\" type=\"" << tag
            << "\">" << xmlText(c.detail) << "</" << tag << ">\n    </testcase>\n";
    }
    out << "  </testsuite>\n</testsuites>\n";
    out.close();
    if (!out) {
        error = path + ": cannot write the JUnit report";
        return false;
    }
    return true;
}
