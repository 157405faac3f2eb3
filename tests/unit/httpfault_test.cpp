// HTTP error replies become the failure kind of their status with the detail in the message.
#include "tessel_installer/utils/httpfault/httpfault.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/httpfault/error_detail.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
namespace hf = tessel_installer::httpfault;
using namespace tessel_installer;

namespace {

enum class Kind { Value, NotFound, Permission, Runtime, General };

const char* name_of(Kind kind) {
    switch (kind) {
        case Kind::Value:
            return "ValueError";
        case Kind::NotFound:
            return "NotFoundError";
        case Kind::Permission:
            return "PermissionError";
        case Kind::Runtime:
            return "RuntimeError";
        case Kind::General:
            return "Exception";
    }
    return "?";
}

// The exact kind of the failure (a subclass does not count as its base).
Kind kind_of(const Exception& error) {
    const std::type_info& type = typeid(error);
    if (type == typeid(NotFoundError)) return Kind::NotFound;
    if (type == typeid(ValueError)) return Kind::Value;
    if (type == typeid(PermissionError)) return Kind::Permission;
    if (type == typeid(RuntimeError)) return Kind::Runtime;
    if (type == typeid(Exception)) return Kind::General;
    ADD_FAILURE() << "unexpected kind " << type.name();
    return Kind::General;
}

struct ReplyCase {
    long status;
    std::string body;
    Kind kind;
    std::string message;
};

const std::string kForbidden = "Forbidden: You don\u2019t have permission to access this resource.";

const ReplyCase kReplyCases[] = {
    {400, R"({"detail": "bad field"})", Kind::Value, "Bad Request: {'detail': 'bad field'}"},
    {422, "plain text, not JSON", Kind::Value, "Validation Error: plain text, not JSON"},
    {400, R"("a string body")", Kind::Value, "Bad Request: a string body"},
    {400, "", Kind::Value, "Bad Request: "},
    {400, "   ", Kind::Value, "Bad Request:    "},
    {422, R"({"detail": [{"loc": ["body", "name"], "msg": "field required", "ctx": null}]})",
     Kind::Value,
     "Validation Error: {'detail': [{'loc': ['body', 'name'], 'msg': 'field required', 'ctx': "
     "None}]}"},
    {422, R"([true, false, null, 1, -7, 2.5])", Kind::Value,
     "Validation Error: [True, False, None, 1, -7, 2.5]"},
    {400, "42", Kind::Value, "Bad Request: 42"},
    {400, "{}", Kind::Value, "Bad Request: {}"},
    {400, "[]", Kind::Value, "Bad Request: []"},
    {400, R"({"b": 1, "a": 2})", Kind::Value, "Bad Request: {'b': 1, 'a': 2}"},  // order kept
    {400, R"({"a": 1, "b": 2, "a": 3})", Kind::Value, "Bad Request: {'a': 3, 'b': 2}"},
    {400, "{\"detail\": \"bad\"} trailing", Kind::Value,
     "Bad Request: {\"detail\": \"bad\"} trailing"},
    {403, R"({"detail": "no"})", Kind::Permission, kForbidden},
    {403, "anything", Kind::Permission, kForbidden},
    {404, R"({"detail": "x"})", Kind::NotFound,
     "Not Found: The requested endpoint does not exist."},
    {405, "", Kind::Runtime, "Method Not Allowed: Check the HTTP method."},
    {500, R"({"detail": "boom"})", Kind::Runtime, "Server Error (500): {'detail': 'boom'}"},
    {503, "unavailable", Kind::Runtime, "Server Error (503): unavailable"},
    {600, "\"odd\"", Kind::Runtime, "Server Error (600): odd"},
    {418, "teapot", Kind::General, "Unexpected Error (418): teapot"},
    {499, R"({"x": 1})", Kind::General, "Unexpected Error (499): {'x': 1}"},
    {200, "ok", Kind::General, "Unexpected Error (200): ok"},
    {401, "", Kind::General, "Unexpected Error (401): "},
};

TEST(HttpfaultTest, StatusChoosesKindAndMessage) {
    for (const auto& c : kReplyCases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body);
        try {
            hf::handle_http_error_response({c.status, c.body});
            ADD_FAILURE() << "returned normally";
        } catch (const Exception& error) {
            EXPECT_STREQ(name_of(kind_of(error)), name_of(c.kind));
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

TEST(HttpfaultTest, NotFoundIsAValueError) {
    EXPECT_THROW(hf::handle_http_error_response({404, ""}), ValueError);
}

TEST(HttpfaultTest, DeepNestingIsTreatedAsText) {
    const std::string body = std::string(100000, '[') + std::string(100000, ']');
    try {
        hf::handle_http_error_response({400, body});
        ADD_FAILURE() << "returned normally";
    } catch (const ValueError& error) {
        EXPECT_EQ(error.what(), "Bad Request: " + body);
    }
    // Nesting within the bound is still printed as a value.
    const std::string shallow = std::string(50, '[') + std::string(50, ']');
    EXPECT_EQ(hf::detail::render_error_detail(shallow), shallow);
    EXPECT_EQ(hf::detail::render_error_detail("[[1, [2]]]"), "[[1, [2]]]");
}

// The printed notation of decoded values, compared with what Python itself prints for them.
TEST(HttpfaultTest, DetailNotationMatchesPython) {
    const std::vector<std::string> bodies = {
        R"({"detail": "bad field"})",
        R"([1, -0, 12345678901234567890123, 2.5, -0.0, 1e16, 1e15, 1.5e-7, 0.0001, 123.456, 1E2, 5e-324])",
        R"(["it's", "say \"hi\"", "both ' and \"", "back\\slash", "tab\tnew\nline\r", "\u0001\u007f"])",
        R"(["caf\u00e9", "\u00a0nbsp", "\u2028", "\ud83d\ude00", "\ufeff", "\u200b"])",
        R"({"nested": {"list": [[], {}, [null]], "flag": false}, "n": 18446744073709551615})",
        R"(1.7976931348623157e308)",
        R"(-9223372036854775808)",
        R"({"": ""})",
    };
    const tessel_test::TempDir dir("tessel-httpfault");
    const fs::path input = dir.path() / "bodies.jsonl";
    {
        std::ofstream out(input, std::ios::binary);
        for (const auto& body : bodies)
            out << body << '\n';
    }
    const auto out = tessel_test::command_output(
        "/usr/bin/python3 -c \"import json,sys\n"
        "for line in open(sys.argv[1], encoding='utf-8'):\n"
        "    sys.stdout.buffer.write(repr(json.loads(line)).encode('utf-8') + b'\\0')\" " +
        input.string());
    ASSERT_TRUE(out.has_value());

    std::vector<std::string> expected;
    for (size_t start = 0, end; (end = out->find('\0', start)) != std::string::npos;
         start = end + 1) {
        expected.push_back(out->substr(start, end - start));
    }
    ASSERT_EQ(expected.size(), bodies.size());
    for (size_t i = 0; i < bodies.size(); ++i) {
        EXPECT_EQ(hf::detail::render_error_detail(bodies[i]), expected[i]) << bodies[i];
    }
}

}  // namespace
