#include "junit.h"

#include "step.h"

#include <cstdio>
#include <fstream>

namespace {

// A text as XML character data or attribute value: markup characters as references, and
// characters XML 1.0 cannot hold at all written as \xHH.
std::string xml(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
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
            if (c < 32 && c != '\n' && c != '\t' && c != '\r')
                out += hexEscape(c);
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

bool writeJUnit(const std::string& path, const std::string& suite,
                const std::vector<JUnitCase>& cases, std::string& error) {
    int failures = 0, errors = 0;
    double seconds = 0;
    for (const JUnitCase& c : cases) {
        failures += c.kind == JUnitCase::Failure;
        errors += c.kind == JUnitCase::Error;
        seconds += c.seconds;
    }
    std::ofstream out(path);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    const std::string counts = " tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                               "\" time=\"" + time + "\"";
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" << xml(suite) << "\""
        << counts << ">\n  <testsuite name=\"" << xml(suite) << "\"" << counts << ">\n";
    for (const JUnitCase& c : cases) {
        std::snprintf(time, sizeof time, "%.3f", c.seconds);
        out << "    <testcase name=\"" << xml(c.name) << "\" classname=\"" << xml(suite)
            << "\" time=\"" << time << "\"";
        if (c.kind == JUnitCase::Passed) {
            out << "/>\n";
            continue;
        }
        const char* tag = c.kind == JUnitCase::Failure ? "failure" : "error";
        out << ">\n      <" << tag << " message=\"" << xml(c.message) << "\" type=\"" << tag
            << "\">" << xml(c.detail) << "</" << tag << ">\n    </testcase>\n";
    }
    out << "  </testsuite>\n</testsuites>\n";
    out.close();
    if (!out) {
        error = path + ": cannot write the JUnit report";
        return false;
    }
    return true;
}
