// Checks a JSON file against a JSON Schema, of which it knows what our schemas use: type,
// required, properties, additionalProperties (false), items, enum, minimum, pattern and
// "$ref": "#/$defs/NAME".
//   schema_check SCHEMA FILE
// Exit 0 when it conforms; 1 with each place that does not ("/checks/0/outcome: ..."); 2 when
// a file cannot be read.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

using json = nlohmann::json;

namespace {

class Checker {
public:
    explicit Checker(const json& root) : root_(root) {}
    void check(const json& schema, const json& value, const std::string& at) {
        if (schema.contains("$ref")) {
            const std::string ref = schema["$ref"];
            const std::string prefix = "#/$defs/";
            if (ref.rfind(prefix, 0) != 0 || !root_["$defs"].contains(ref.substr(prefix.size())))
                return fail(at, "the schema's $ref " + ref + " names nothing");
            return check(root_["$defs"][ref.substr(prefix.size())], value, at);
        }
        if (schema.contains("type") && !typed(schema["type"], value))
            return fail(at, "expected " + schema["type"].dump() + ", got " + value.dump());
        if (schema.contains("enum") &&
            std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
            fail(at, value.dump() + " is none of " + schema["enum"].dump());
        if (schema.contains("minimum") && value.is_number() && value < schema["minimum"])
            fail(at, value.dump() + " is below " + schema["minimum"].dump());
        if (schema.contains("pattern") && value.is_string() &&
            !std::regex_search(value.get<std::string>(),
                               std::regex(schema["pattern"].get<std::string>())))
            fail(at, value.dump() + " does not match " + schema["pattern"].dump());
        if (value.is_object()) {
            for (const auto& name : schema.value("required", json::array()))
                if (!value.contains(name)) fail(at, "has no " + name.dump());
            const json properties = schema.value("properties", json::object());
            for (const auto& [name, v] : value.items()) {
                if (properties.contains(name))
                    check(properties[name], v, at + "/" + name);
                else if (schema.value("additionalProperties", true) == false)
                    fail(at, "has " + json(name).dump() + ", which the schema does not name");
            }
        }
        if (value.is_array() && schema.contains("items"))
            for (std::size_t i = 0; i < value.size(); ++i)
                check(schema["items"], value[i], at + "/" + std::to_string(i));
    }
    const std::vector<std::string>& errors() const { return errors_; }

private:
    static bool typed(const json& type, const json& v) {
        if (type.is_array()) {
            for (const json& t : type)
                if (typed(t, v)) return true;
            return false;
        }
        const std::string t = type;
        return (t == "object" && v.is_object()) || (t == "array" && v.is_array()) ||
               (t == "string" && v.is_string()) || (t == "boolean" && v.is_boolean()) ||
               (t == "null" && v.is_null()) || (t == "number" && v.is_number()) ||
               (t == "integer" && v.is_number_integer());
    }
    void fail(const std::string& at, const std::string& what) {
        errors_.push_back((at.empty() ? "/" : at) + ": " + what);
    }
    const json& root_;
    std::vector<std::string> errors_;
};

bool read(const char* path, json& out) {
    std::ifstream in(path);
    out = json::parse(in, nullptr, false);
    if (!in.is_open() || out.is_discarded()) {
        std::fprintf(stderr, "schema_check: %s: cannot be read as JSON\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: schema_check SCHEMA FILE\n");
        return 2;
    }
    json schema, value;
    if (!read(argv[1], schema) || !read(argv[2], value)) return 2;
    Checker checker(schema);
    checker.check(schema, value, "");
    for (const std::string& e : checker.errors())
        std::fprintf(stderr, "%s%s\n", argv[2], e.c_str());
    if (checker.errors().empty()) std::printf("%s conforms to %s\n", argv[2], argv[1]);
    return checker.errors().empty() ? 0 : 1;
}
