// The catalogue: reading the service's reply, resolving --package/--options against it, and the
// request itself against real HTTP servers on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tessel_installer/config.hpp"
#include "tessel_installer/installation/catalogue.hpp"
#include "tessel_installer/installation/engine.hpp"

namespace tessel_installer::installer {
namespace {

using tessel_test::CapturedStdout;

PackageKinds kinds(std::initializer_list<std::pair<std::string, std::string>> items) {
    PackageKinds out;
    for (const auto& [name, kind] : items)
        out.set(name, kind);
    return out;
}

std::string entry(const std::string& name, const std::string& kind) {
    return R"({"package_name":")" + name + R"(","product_type":")" + kind + R"("})";
}

// ---- Names --------------------------------------------------------------------------------------

TEST(PackageNameCheck, AcceptsDistributionNamesAndRejectsEverythingPipCouldMisread) {
    for (const char* name : {"a", "Z", "0", "tessel-enterprise", "bundle_alder", "Bundle.Alder-2",
                             "a-b", "a..b", "A1_b2.C3"}) {
        EXPECT_TRUE(_is_valid_package_name(name)) << name;
    }
    for (const char* name : {"", "-r", "--index-url=http://elsewhere/", "-", "_x", ".x", "x-", "x_",
                             "x.", "a b", " bundle-alder", "bundle-alder ", "bundle\tbirch",
                             "bundle[x]", "x;y", "x==1.0", "x/y", "caf\xc3\xa9", "x\ny"}) {
        EXPECT_FALSE(_is_valid_package_name(name)) << name;
    }
}

// ---- Reading the reply --------------------------------------------------------------------------

struct GoodReply {
    const char* what;
    std::string body;
    PackageKinds expected;
};

TEST(CatalogueReply, ReadsTheNamesInTheServicesOrder) {
    const std::vector<GoodReply> cases = {
        {"two packages",
         R"({"packages":[)" + entry("tessel-enterprise", "base") + "," +
             entry("bundle-alder", "bundle") + "]}",
         kinds({{"tessel-enterprise", "base"}, {"bundle-alder", "bundle"}})},
        {"a repeated name keeps its first place and takes the later kind",
         R"({"packages":[)" + entry("bundle-alder", "bundle") + "," +
             entry("bundle-birch", "bundle") + "," + entry("bundle-alder", "base") + "]}",
         kinds({{"bundle-alder", "base"}, {"bundle-birch", "bundle"}})},
        {"names are not normalised",
         R"({"packages":[)" + entry("Bundle_Alder", "bundle") + "," +
             entry("bundle-alder", "bundle") + "]}",
         kinds({{"Bundle_Alder", "bundle"}, {"bundle-alder", "bundle"}})},
        {"other kinds and other members are carried or ignored",
         R"({"user":"x","packages":[{"package_name":"tessel-enterprise",)"
         R"("product_type":"addon","x":1}]})",
         kinds({{"tessel-enterprise", "addon"}})},
        {"an empty array", R"({"packages":[]})", {}},
        {"no packages member", R"({})", {}},
        {"no packages member among others", R"({"status":"ok"})", {}},
        {"white space around the document", " \n{\"packages\":[]}\n ", {}},
    };
    for (const auto& c : cases) {
        const CatalogueReading reading = _parse_catalogue_reply(c.body);
        ASSERT_TRUE(reading.packages.has_value()) << c.what << ": " << reading.problem;
        EXPECT_EQ(*reading.packages, c.expected) << c.what;
        EXPECT_TRUE(reading.problem.empty()) << c.what;
    }
}

struct BadReply {
    std::string body;
    std::string problem;
};

TEST(CatalogueReply, AnythingButAListOfNamedPackagesIsRefusedWithWhatWasWrong) {
    const std::string first = "entry 1 of the reply's \"packages\"";
    const std::string second = "entry 2 of the reply's \"packages\"";
    const std::vector<BadReply> cases = {
        {"", "the reply is not JSON"},
        {"<html>Service Unavailable</html>", "the reply is not JSON"},
        {R"({"packages":[)", "the reply is not JSON"},
        {R"({"packages":[]} trailing)", "the reply is not JSON"},
        {"[]", "the reply is not a JSON object"},
        {R"("packages")", "the reply is not a JSON object"},
        {"42", "the reply is not a JSON object"},
        {"null", "the reply is not a JSON object"},
        {R"({"packages":null})", "the reply's \"packages\" is not an array"},
        {R"({"packages":{}})", "the reply's \"packages\" is not an array"},
        {R"({"packages":"tessel-enterprise"})", "the reply's \"packages\" is not an array"},
        {R"({"packages":[1]})", first + " is not an object"},
        {R"({"packages":["tessel-enterprise"]})", first + " is not an object"},
        {R"({"packages":[)" + entry("tessel-enterprise", "base") + ",[]]}",
         second + " is not an object"},
        {R"({"packages":[{"product_type":"base"}]})", first + " has no text \"package_name\""},
        {R"({"packages":[{"package_name":5,"product_type":"base"}]})",
         first + " has no text \"package_name\""},
        {R"({"packages":[{"package_name":null,"product_type":"base"}]})",
         first + " has no text \"package_name\""},
        {R"({"packages":[{"package_name":"tessel-enterprise"}]})",
         first + " has no text \"product_type\""},
        {R"({"packages":[{"package_name":"tessel-enterprise","product_type":["base"]}]})",
         first + " has no text \"product_type\""},
        {R"({"packages":[)" + entry("bundle-alder", "bundle") + "," + entry("-r", "bundle") + "]}",
         second + " has an invalid package name \"-r\""},
        {R"({"packages":[)" + entry("--index-url=http://elsewhere/", "bundle") + "]}",
         first + " has an invalid package name \"--index-url=http://elsewhere/\""},
        {R"({"packages":[)" + entry("bundle alder", "bundle") + "]}",
         first + " has an invalid package name \"bundle alder\""},
        {R"({"packages":[)" + entry("", "base") + "]}",
         first + " has an invalid package name \"\""},
        {R"({"packages":[{"package_name":"x\u001b[2Jy","product_type":"base"}]})",
         first + " has an invalid package name \"x\\u001b[2Jy\""},
        {R"({"packages":[)" + entry(std::string(100, 'a') + " ", "base") + "]}",
         first + " has an invalid package name \"" + std::string(60, 'a') + "...\""},
    };
    for (const auto& c : cases) {
        const CatalogueReading reading = _parse_catalogue_reply(c.body);
        EXPECT_FALSE(reading.packages.has_value()) << c.body;
        EXPECT_EQ(reading.problem, c.problem) << c.body;
    }
}

TEST(CatalogueReply, DeeplyNestedJsonIsRefusedWithoutExhaustingTheStack) {
    const std::size_t depth = 200000;
    const std::string body =
        R"({"packages":[)" + std::string(depth, '[') + std::string(depth, ']') + "]}";
    const CatalogueReading reading = _parse_catalogue_reply(body);
    EXPECT_FALSE(reading.packages.has_value());
    EXPECT_EQ(reading.problem, "entry 1 of the reply's \"packages\" is not an object");
}

// ---- Selection ----------------------------------------------------------------------------------

const PackageKinds CATALOGUE = kinds({{"tessel-enterprise", "base"}, {"bundle-alder", "bundle"}});

struct SelectionCase {
    const char* what;
    OptionalText package;
    OptionalList options;
    std::optional<PackageKinds> expected;
    SelectionOutcome outcome;
    std::string printed;
};

std::string invalid_line(const std::string& text) {
    return "Invalid package " + text + " or no access to the given package.\n";
}

TEST(Selection, ResolvesThePackageAndItsOptionsAgainstTheCatalogue) {
    using O = SelectionOutcome;
    using L = std::vector<std::string>;
    const std::vector<SelectionCase> cases = {
        {"no package: the whole catalogue", std::nullopt, std::nullopt, CATALOGUE, O::Selected, ""},
        {"options without a package are ignored", std::nullopt, L{"x"}, CATALOGUE, O::Selected, ""},
        {"an empty package text: the whole catalogue", "", std::nullopt, CATALOGUE, O::Selected,
         ""},
        {"an empty package text with options", "", L{"x"}, CATALOGUE, O::Selected, ""},
        {"one package", "bundle-alder", std::nullopt, kinds({{"bundle-alder", "bundle"}}),
         O::Selected, ""},
        {"one package, empty options", "tessel-enterprise", L{},
         kinds({{"tessel-enterprise", "base"}}), O::Selected, ""},
        {"extras, in order, all bundles, no bare entry", "tessel-enterprise", L{"alder", "birch"},
         kinds({{"tessel-enterprise[alder]", "bundle"}, {"tessel-enterprise[birch]", "bundle"}}),
         O::Selected, ""},
        {"a single option", "bundle-alder", L{"x"}, kinds({{"bundle-alder[x]", "bundle"}}),
         O::Selected, ""},
        {"an option given twice is one key", "tessel-enterprise", L{"alder", "birch", "alder"},
         kinds({{"tessel-enterprise[alder]", "bundle"}, {"tessel-enterprise[birch]", "bundle"}}),
         O::Selected, ""},
        {"names compare exactly", "Bundle-Alder", std::nullopt, std::nullopt, O::UnknownPackage,
         invalid_line("Bundle-Alder")},
        {"membership before options", "bundle_alder", L{"x"}, std::nullopt, O::UnknownPackage,
         invalid_line("bundle_alder")},
        {"membership before a bad option", "nope", L{"a b"}, std::nullopt, O::UnknownPackage,
         invalid_line("nope")},
        {"an option with a blank", "tessel-enterprise", L{"a b"}, std::nullopt, O::UnknownPackage,
         invalid_line("tessel-enterprise[a b]")},
        {"an option pip would read as an option", "tessel-enterprise", L{"alder", "--pre"},
         std::nullopt, O::UnknownPackage, invalid_line("tessel-enterprise[--pre]")},
        {"an option closing the bracket", "tessel-enterprise", L{"x]"}, std::nullopt,
         O::UnknownPackage, invalid_line("tessel-enterprise[x]]")},
        {"two extras in one option", "tessel-enterprise", L{"alder,birch"}, std::nullopt,
         O::UnknownPackage, invalid_line("tessel-enterprise[alder,birch]")},
        {"an empty option", "tessel-enterprise", L{""}, std::nullopt, O::UnknownPackage,
         invalid_line("tessel-enterprise[]")},
    };
    for (const auto& c : cases) {
        CapturedStdout out;
        const Selection selection = _select_from_catalogue(CATALOGUE, c.package, c.options);
        EXPECT_EQ(out.text(), c.printed) << c.what;
        EXPECT_EQ(selection.packages, c.expected) << c.what;
        EXPECT_EQ(selection.outcome, c.outcome) << c.what;
    }
}

TEST(Selection, NoCatalogueOrAnEmptyOneEndsInNoneWithoutALine) {
    for (const OptionalText& package :
         {OptionalText{}, OptionalText{"tessel-enterprise"}, OptionalText{"nope"}}) {
        CapturedStdout out;
        const Selection failed = _select_from_catalogue(std::nullopt, package, std::nullopt);
        const Selection empty =
            _select_from_catalogue(PackageKinds{}, package, std::vector<std::string>{"x"});
        EXPECT_EQ(out.text(), "");
        EXPECT_FALSE(failed.packages.has_value());
        EXPECT_EQ(failed.outcome, SelectionOutcome::FetchFailed);
        EXPECT_FALSE(empty.packages.has_value());
        EXPECT_EQ(empty.outcome, SelectionOutcome::EmptyCatalogue);
    }
}

// ---- From the reply to the catalogue or the reason ---------------------------------------------

const std::string GOOD_BODY = R"({"packages":[)" + entry("tessel-enterprise", "base") + "," +
                              entry("bundle-alder", "bundle") + "]}";

TEST(CatalogueFromReply, OnlyACompleteStatus200ReplyWithACatalogueIsOne) {
    struct Case {
        const char* what;
        CatalogueReply reply;
        std::optional<PackageKinds> packages;
        std::string reason;
    };
    const std::size_t cap = 4 * 1024 * 1024;
    const std::optional<std::string> none;
    const auto failed = [](const char* text) { return std::optional<std::string>(text); };
    // transport_error, too_large, max_reply_bytes, status, redirect_url, body
    const std::vector<Case> cases = {
        {"a good reply", {none, false, cap, 200, none, GOOD_BODY}, CATALOGUE, ""},
        {"an empty catalogue", {none, false, cap, 200, none, R"({"packages":[]})"}, PackageKinds{},
         ""},
        {"the transfer failed", {failed("Empty reply from server"), false, cap, 0, none, ""},
         std::nullopt, "Empty reply from server"},
        {"a transfer failure wins over a status",
         {failed("transfer closed with 88 bytes remaining to read"), false, cap, 200, none,
          "{\"packages\":"},
         std::nullopt, "transfer closed with 88 bytes remaining to read"},
        {"the request could not be prepared",
         {failed("the HTTP client could not be initialised"), false, cap, 0, none, ""},
         std::nullopt, "the HTTP client could not be initialised"},
        {"too large, no status", {failed("Failure writing output"), true, cap, 0, none, ""},
         std::nullopt, "the reply is larger than 4 MiB"},
        {"too large with status 200", {failed("Failure writing output"), true, cap, 200, none, ""},
         std::nullopt, "the reply is larger than 4 MiB"},
        {"a limit in bytes", {failed("Maximum file size exceeded"), true, 1000, 200, none, ""},
         std::nullopt, "the reply is larger than 1000 bytes"},
        {"a too large error reply names its status",
         {failed("Failure writing output"), true, 1024, 503, none, "xxxx"}, std::nullopt,
         "the service answered with HTTP status 503"},
        {"a redirect", {none, false, cap, 302, "http://127.0.0.1:1/elsewhere", ""}, std::nullopt,
         "the service answered with HTTP status 302 (a redirect to http://127.0.0.1:1/elsewhere, "
         "which is not followed)"},
        {"malformed with status 200", {none, false, cap, 200, none, "<html>maintenance</html>"},
         std::nullopt, "the reply is not JSON"},
        {"not an object", {none, false, cap, 200, none, "[]"}, std::nullopt,
         "the reply is not a JSON object"},
        {"packages not an array",
         {none, false, cap, 200, none, R"({"packages":{"tessel-enterprise":"base"}})"},
         std::nullopt, "the reply's \"packages\" is not an array"},
        {"a name pip would read as an option",
         {none, false, cap, 200, none, R"({"packages":[)" + entry("-e", "base") + "]}"},
         std::nullopt, "entry 1 of the reply's \"packages\" has an invalid package name \"-e\""},
    };
    for (const auto& c : cases) {
        const CatalogueReading reading = _catalogue_from_reply(c.reply);
        EXPECT_EQ(reading.packages, c.packages) << c.what;
        EXPECT_EQ(reading.problem, c.reason) << c.what;
    }
    // Any status but exactly 200 is a failure naming it, even with a good catalogue as the body.
    for (const long status : {0L, 201L, 204L, 401L, 404L, 500L, 503L}) {
        const CatalogueReading reading =
            _catalogue_from_reply({none, false, cap, status, none, GOOD_BODY});
        EXPECT_FALSE(reading.packages.has_value()) << status;
        EXPECT_EQ(reading.problem,
                  "the service answered with HTTP status " + std::to_string(status));
    }
}

// ---- The request, against real servers on loopback ----------------------------------------------

// A server for one connection on 127.0.0.1: it reads one request and hands the socket to the
// behaviour of the test. Everything it does happens on its own thread; finish() joins it.
class LoopbackServer {
public:
    using Behaviour = std::function<void(int fd)>;

    explicit LoopbackServer(Behaviour behaviour) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listener_ < 0) throw std::runtime_error("socket failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 4) != 0) {
            throw std::runtime_error("bind/listen failed");
        }
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, behaviour = std::move(behaviour)] { serve(behaviour); });
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    ~LoopbackServer() {
        finish();
        ::close(listener_);
    }

    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/api/v1/package-permissions";
    }

    // Waits for the server thread and returns the request it read (head and body).
    const std::string& finish() {
        if (thread_.joinable()) thread_.join();
        return request_;
    }

private:
    void serve(const Behaviour& behaviour) {
        // A guard against a client that never comes, so a broken test fails instead of hanging.
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 20000) <= 0) return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        read_request(fd);
        behaviour(fd);
        ::close(fd);
    }

    void read_request(int fd) {
        char buffer[4096];
        std::size_t expected = std::string::npos;
        for (;;) {
            const std::size_t head_end = request_.find("\r\n\r\n");
            if (head_end != std::string::npos && expected == std::string::npos) {
                const std::string head = request_.substr(0, head_end);
                const std::size_t at = head.find("Content-Length: ");
                const std::size_t body_length =
                    at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
                expected = head_end + 4 + body_length;
            }
            if (expected != std::string::npos && request_.size() >= expected) return;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            request_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::string request_;
    std::thread thread_;
};

void send_all(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client went away
        sent += static_cast<std::size_t>(n);
    }
}

LoopbackServer::Behaviour reply(int status, const std::string& reason, const std::string& body,
                                const std::string& extra_headers = "") {
    return [=](int fd) {
        send_all(fd, "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" +
                         "Content-Type: application/json\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n" + extra_headers +
                         "Connection: close\r\n\r\n" + body);
    };
}

// Holds the connection open without answering until the client gives up and closes it.
void wait_for_the_client_to_leave(int fd) {
    char buffer[256];
    while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
}

CatalogueRequest request_to(const LoopbackServer& server) {
    CatalogueRequest request;
    request.url = server.url();
    request.headers = {"Authorization: Bearer test-token", "X-Tessel-Client: tessel-installer"};
    request.timeout = std::chrono::milliseconds(3000);
    return request;
}

std::string notice(const std::string& url, const std::string& reason) {
    return "Could not fetch the list of packages from " + url + ": " + reason + "\n";
}

TEST(CatalogueRequest, PostsTheJsonBodyWithTheHeaderLinesAndReadsTheReply) {
    LoopbackServer server(reply(200, "OK", GOOD_BODY));
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request_to(server));
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(catalogue, CATALOGUE);

    const std::string& request = server.finish();
    EXPECT_EQ(request.rfind("POST /api/v1/package-permissions HTTP/1.1\r\n", 0), 0u) << request;
    const std::size_t head_end = request.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    const std::string head = request.substr(0, head_end + 2);
    for (const char* line :
         {"Authorization: Bearer test-token\r\n", "X-Tessel-Client: tessel-installer\r\n",
          "Content-Type: application/json\r\n"}) {
        EXPECT_NE(head.find(line), std::string::npos) << line << " missing from\n" << head;
    }
    const auto body = nlohmann::json::parse(request.substr(head_end + 4));
    EXPECT_EQ(body.at("client"), "tessel-installer");
    EXPECT_EQ(body.at("client_version"), std::string(config::PROGRAM_VERSION));
}

TEST(CatalogueRequest, TheFetchWithoutArgumentsUsesTheConfiguredValues) {
    const CatalogueRequest request = _configured_catalogue_request();
    EXPECT_EQ(request.url, config::API_PACKAGE_PERMISSIONS);
    ASSERT_EQ(request.headers.size(), config::HEADERS.size());
    for (std::size_t i = 0; i < request.headers.size(); ++i) {
        EXPECT_EQ(request.headers[i], config::HEADERS[i]);
    }
    EXPECT_EQ(request.timeout, std::chrono::seconds(config::TIMEOUT));
}

TEST(CatalogueRequest, ARedirectIsReportedAndNotFollowed) {
    // The target would answer with a good catalogue if the redirect were followed.
    LoopbackServer target(reply(200, "OK", GOOD_BODY));
    LoopbackServer server(reply(302, "Found", "", "Location: " + target.url() + "\r\n"));
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request_to(server));
    EXPECT_EQ(out.text(), notice(server.url(),
                                 "the service answered with HTTP status 302 (a "
                                 "redirect to " +
                                     target.url() + ", which is not followed)"));
    EXPECT_FALSE(catalogue.has_value());
    // Unblock the target (it would otherwise wait for its guard) and check that it saw nothing
    // but this probe.
    CatalogueRequest probe = request_to(target);
    probe.headers = {"X-Probe: yes"};
    EXPECT_TRUE(_get_accessible_packages(probe).has_value());
    EXPECT_NE(target.finish().find("X-Probe: yes"), std::string::npos);
}

TEST(CatalogueRequest, AnEmptyCatalogueIsNotAFailure) {
    LoopbackServer server(reply(200, "OK", R"({"packages":[]})"));
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request_to(server));
    EXPECT_EQ(out.text(), "");
    ASSERT_TRUE(catalogue.has_value());
    EXPECT_TRUE(catalogue->empty());
}

TEST(CatalogueRequest, TheTimeLimitCoversTheWholeRequest) {
    LoopbackServer server(wait_for_the_client_to_leave);
    CatalogueRequest request = request_to(server);
    request.timeout = std::chrono::milliseconds(200);
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request);
    const std::string printed = out.text();
    EXPECT_FALSE(catalogue.has_value());
    const std::string prefix = "Could not fetch the list of packages from " + server.url() +
                               ": Operation timed out after ";
    EXPECT_EQ(printed.rfind(prefix, 0), 0u) << printed;
}

TEST(CatalogueRequest, ADroppedConnectionIsATransportFailure) {
    struct Drop {
        const char* what;
        LoopbackServer::Behaviour behaviour;
        std::string reason;
    };
    const std::vector<Drop> drops = {
        {"closed before any reply", [](int) {}, "Empty reply from server"},
        {"closed in the middle of the body",
         [](int fd) {
             send_all(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"packages\":");
         },
         "transfer closed with 88 bytes remaining to read"},
    };
    for (const auto& drop : drops) {
        LoopbackServer server(drop.behaviour);
        CapturedStdout out;
        const auto catalogue = _get_accessible_packages(request_to(server));
        EXPECT_EQ(out.text(), notice(server.url(), drop.reason)) << drop.what;
        EXPECT_FALSE(catalogue.has_value()) << drop.what;
    }
}

// A loopback port that nobody listens on: bound by us, never listened on, then released.
int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(CatalogueRequest, NobodyListeningIsATransportFailure) {
    CatalogueRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(free_port()) + "/api/v1/package-permissions";
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request);
    const std::string printed = out.text();
    EXPECT_FALSE(catalogue.has_value());
    EXPECT_EQ(printed.rfind("Could not fetch the list of packages from " + request.url + ": ", 0),
              0u);
    EXPECT_NE(printed.find("Couldn't connect to server"), std::string::npos) << printed;
}

TEST(CatalogueRequest, AReplyBeyondTheSizeCapIsAFailedFetch) {
    const std::size_t cap = 4 * 1024 * 1024;
    const std::string big_body = R"({"packages":[)" + entry("tessel-enterprise", "base") + "]," +
                                 R"("pad":")" + std::string(cap, 'x') + "\"}";
    struct Oversized {
        const char* what;
        LoopbackServer::Behaviour behaviour;
    };
    const std::vector<Oversized> cases = {
        {"announced by its length", reply(200, "OK", big_body)},
        {"streamed without a length",
         [big_body](int fd) {
             send_all(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big_body);
         }},
    };
    for (const auto& c : cases) {
        LoopbackServer server(c.behaviour);
        CapturedStdout out;
        const auto catalogue = _get_accessible_packages(request_to(server));
        EXPECT_EQ(out.text(), notice(server.url(), "the reply is larger than 4 MiB")) << c.what;
        EXPECT_FALSE(catalogue.has_value()) << c.what;
    }
}

TEST(CatalogueRequest, AnOversizedErrorReplyStillNamesItsStatus) {
    LoopbackServer server([](int fd) {
        send_all(fd, "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n" +
                         std::string(4096, 'x'));
    });
    CatalogueRequest request = request_to(server);
    request.max_reply_bytes = 1024;
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request);
    EXPECT_EQ(out.text(), notice(server.url(), "the service answered with HTTP status 503"));
    EXPECT_FALSE(catalogue.has_value());
}

TEST(CatalogueRequest, AReplyJustWithinTheCapIsRead) {
    CatalogueRequest request;
    const std::string body = R"({"packages":[)" + entry("tessel-enterprise", "base") + "]}";
    LoopbackServer server(reply(200, "OK", body));
    request = request_to(server);
    request.max_reply_bytes = body.size();
    CapturedStdout out;
    const auto catalogue = _get_accessible_packages(request);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(catalogue, kinds({{"tessel-enterprise", "base"}}));
}

}  // namespace
}  // namespace tessel_installer::installer
