// JUnit XML reports, as CI systems read them: one test case per scenario file or validator
// check, a failure with file:line, expected and actual.
#pragma once

#include <string>
#include <vector>

struct JUnitCase {
    enum Kind { Passed, Failure, Error, Skipped } kind = Passed;
    std::string name;
    std::string message; // the first problem (or why it was skipped), one line
    std::string detail;  // every problem, as printed
    double seconds = 0;
};

// Writes the report; false with the reason when the file cannot be written.
bool writeJUnit(const std::string& path, const std::string& suite,
                const std::vector<JUnitCase>& cases, std::string& error);

// A text as XML (and HTML) character data or attribute value: markup characters as references,
// and bytes XML 1.0 cannot hold (control characters, bytes that are not UTF-8) written as \xHH.
std::string xmlText(const std::string& text);
