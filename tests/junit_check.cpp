// Reads a JUnit report with a small XML parser of its own (well-formedness: one root, nested
// tags that close in order, quoted attributes, known entities) and checks what CI tools read:
//   junit_check FILE CASES FAILURES [TEXT]
// <testsuites> holds <testsuite> elements whose tests/failures/errors attributes count their
// <testcase> children (each with a name) and those with a <failure> or <error> (each with a
// message); CASES and FAILURES (failures and errors) are the totals expected, and TEXT, when
// given, must stand in some failure's message or text.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<std::unique_ptr<Element>> children;
    std::string text;
};

class Parser {
public:
    explicit Parser(std::string text) : s_(std::move(text)) {}

    std::unique_ptr<Element> document() {
        if (s_.compare(0, 5, "<?xml") == 0) {
            const std::size_t end = s_.find("?>");
            if (end == std::string::npos) fail("unclosed XML declaration");
            i_ = end + 2;
        }
        blanks();
        auto root = element();
        blanks();
        if (i_ != s_.size()) fail("text after the root element");
        return root;
    }

    [[noreturn]] void fail(const std::string& what) const {
        std::fprintf(stderr, "junit_check: not well-formed XML at byte %zu: %s\n", i_,
                     what.c_str());
        std::exit(1);
    }

private:
    void blanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\t' || s_[i_] == '\r'))
            ++i_;
    }
    std::string name() {
        const std::size_t start = i_;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) ||
                                  s_[i_] == '_' || s_[i_] == '-' || s_[i_] == ':' || s_[i_] == '.'))
            ++i_;
        if (i_ == start) fail("expected a name");
        return s_.substr(start, i_ - start);
    }
    std::string decoded(const std::string& raw) const {
        std::string out;
        for (std::size_t k = 0; k < raw.size(); ++k) {
            if (raw[k] == '<') fail("'<' in text or value");
            if (raw[k] != '&') {
                out += raw[k];
                continue;
            }
            const std::size_t end = raw.find(';', k);
            if (end == std::string::npos) fail("unterminated entity");
            const std::string entity = raw.substr(k + 1, end - k - 1);
            static const std::map<std::string, char> known = {
                {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
            auto found = known.find(entity);
            if (found == known.end()) fail("unknown entity &" + entity + ";");
            out += found->second;
            k = end;
        }
        return out;
    }
    std::unique_ptr<Element> element() {
        if (i_ >= s_.size() || s_[i_] != '<') fail("expected '<'");
        ++i_;
        auto e = std::make_unique<Element>();
        e->name = name();
        for (;;) {
            blanks();
            if (s_.compare(i_, 2, "/>") == 0) {
                i_ += 2;
                return e;
            }
            if (i_ < s_.size() && s_[i_] == '>') {
                ++i_;
                break;
            }
            const std::string attribute = name();
            blanks();
            if (i_ >= s_.size() || s_[i_] != '=') fail("expected '=' after " + attribute);
            ++i_;
            blanks();
            if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) fail("unquoted value");
            const char quote = s_[i_++];
            const std::size_t end = s_.find(quote, i_);
            if (end == std::string::npos) fail("unclosed value");
            if (e->attributes.count(attribute)) fail("attribute " + attribute + " twice");
            e->attributes[attribute] = decoded(s_.substr(i_, end - i_));
            i_ = end + 1;
        }
        for (;;) {
            const std::size_t lt = s_.find('<', i_);
            if (lt == std::string::npos) fail("unclosed <" + e->name + ">");
            e->text += decoded(s_.substr(i_, lt - i_));
            i_ = lt;
            if (s_.compare(i_, 2, "</") == 0) {
                i_ += 2;
                if (name() != e->name) fail("</...> does not close <" + e->name + ">");
                blanks();
                if (i_ >= s_.size() || s_[i_] != '>') fail("expected '>'");
                ++i_;
                return e;
            }
            e->children.push_back(element());
        }
    }

    std::string s_;
    std::size_t i_ = 0;
};

long number(const Element& e, const char* attribute) {
    auto found = e.attributes.find(attribute);
    if (found == e.attributes.end()) {
        std::fprintf(stderr, "junit_check: <%s> has no %s\n", e.name.c_str(), attribute);
        std::exit(1);
    }
    char* end = nullptr;
    const long n = std::strtol(found->second.c_str(), &end, 10);
    if (*end) {
        std::fprintf(stderr, "junit_check: <%s %s=\"%s\"> is not a count\n", e.name.c_str(),
                     attribute, found->second.c_str());
        std::exit(1);
    }
    return n;
}

} // namespace

// The byte where the document stops being XML 1.0 characters in UTF-8, or npos: each character
// is decoded, then held to XML's Char production.
std::size_t firstBadCharacter(const std::string& doc) {
    for (std::size_t i = 0; i < doc.size();) {
        const unsigned char lead = static_cast<unsigned char>(doc[i]);
        int more = lead < 0x80         ? 0
                   : (lead >> 5) == 6  ? 1
                   : (lead >> 4) == 14 ? 2
                   : (lead >> 3) == 30 ? 3
                                       : -1;
        if (more < 0 || i + static_cast<std::size_t>(more) >= doc.size() + (more == 0)) return i;
        unsigned long c = more == 0 ? lead : lead & (0x3f >> more);
        for (int k = 1; k <= more; ++k) {
            const unsigned char b =
                static_cast<unsigned char>(doc[i + static_cast<std::size_t>(k)]);
            if ((b & 0xc0) != 0x80) return i;
            c = c << 6 | (b & 0x3f);
        }
        const bool shortest = more == 0 || (more == 1 && c >= 0x80) || (more == 2 && c >= 0x800) ||
                              (more == 3 && c >= 0x10000);
        const bool isChar = c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff) ||
                            (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
        if (!shortest || !isChar) return i;
        i += 1 + static_cast<std::size_t>(more);
    }
    return std::string::npos;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: junit_check FILE CASES FAILURES [TEXT]\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream all;
    all << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "junit_check: %s: cannot read\n", argv[1]);
        return 1;
    }
    if (const std::size_t bad = firstBadCharacter(all.str()); bad != std::string::npos) {
        std::fprintf(
            stderr,
            "junit_check: not well-formed XML at byte %zu: not a UTF-8 character XML holds\n", bad);
        return 1;
    }
    Parser parser(all.str());
    const std::unique_ptr<Element> root = parser.document();
    if (root->name != "testsuites")
        parser.fail("the root is <" + root->name + ">, not <testsuites>");
    long cases = 0, failures = 0;
    bool textFound = argc < 5;
    for (const auto& suite : root->children) {
        if (suite->name != "testsuite") parser.fail("<" + suite->name + "> inside <testsuites>");
        long suiteCases = 0, suiteFailures = 0, suiteErrors = 0;
        for (const auto& c : suite->children) {
            if (c->name != "testcase" || !c->attributes.count("name"))
                parser.fail("expected <testcase name=...>");
            ++suiteCases;
            for (const auto& f : c->children) {
                if (f->name != "failure" && f->name != "error") continue;
                if (!f->attributes.count("message")) parser.fail("a <failure> without a message");
                (f->name == "failure" ? suiteFailures : suiteErrors) += 1;
                if (argc >= 5 && (f->attributes["message"].find(argv[4]) != std::string::npos ||
                                  f->text.find(argv[4]) != std::string::npos))
                    textFound = true;
            }
        }
        if (number(*suite, "tests") != suiteCases || number(*suite, "failures") != suiteFailures ||
            number(*suite, "errors") != suiteErrors)
            parser.fail("a <testsuite>'s counts do not match its test cases");
        cases += suiteCases;
        failures += suiteFailures + suiteErrors;
    }
    if (cases != std::atol(argv[2]) || failures != std::atol(argv[3])) {
        std::fprintf(stderr, "junit_check: %s: %ld test cases, %ld failed; expected %s and %s\n",
                     argv[1], cases, failures, argv[2], argv[3]);
        return 1;
    }
    if (!textFound) {
        std::fprintf(stderr, "junit_check: %s: no failure mentions '%s'\n", argv[1], argv[4]);
        return 1;
    }
    std::printf("%s: %ld test cases, %ld failed\n", argv[1], cases, failures);
    return 0;
}
