// The catalogue request behind a certificate of a private authority, as a TLS-intercepting proxy
// presents it: a real HTTPS server on loopback (Python's ssl with a CA openssl makes here), the
// CA handed over by each of the places pip users use.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/installation/trust_store.hpp"
#include "tessel_installer/platform/process.hpp"

namespace tessel_installer::installer {
namespace {

namespace fs = std::filesystem;

// Serves one POST with a one-package catalogue, in a child that the parent leaves behind once it
// has printed the port (the child's streams are the null device, so the parent's end is seen). The
// child starts a session of its own: what is left in the parent's process group ends with it.
constexpr const char* kServer = R"(
import http.server, os, ssl, sys
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get('Content-Length', 0)))
        body = b'{"packages":[{"package_name":"bundle-alder","product_type":"bundle"}]}'
        self.send_response(200)
        self.send_header('Content-Length', str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *a):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), H)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.timeout = 30
ready_read, ready_write = os.pipe()
if os.fork() == 0:
    os.setsid()
    os.write(ready_write, b'.')
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    try:
        server.handle_request()
    finally:
        os._exit(0)
os.read(ready_read, 1)
print(server.server_address[1], flush=True)
)";

void openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto done = platform::run(argv, {platform::Stream::Capture, platform::Stream::Capture});
    ASSERT_EQ(done.returncode, 0) << done.err;
}

TEST(TrustStore, ThePrivateAuthorityIsTakenFromEachPlacePipUsersUse) {
    const fs::path dir = tessel_test::make_temp_dir("tessel-trust");
    const std::string ca = (dir / "ca.pem").string();
    const std::string key = (dir / "key.pem").string();
    const std::string cert = (dir / "cert.pem").string();
    openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=Corporate Proxy CA", "-keyout", (dir / "ca-key.pem").string(), "-out", ca});
    openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", key,
             "-out", (dir / "cert.csr").string()});
    std::ofstream(dir / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    openssl({"x509", "-req", "-in", (dir / "cert.csr").string(), "-CA", ca, "-CAkey",
             (dir / "ca-key.pem").string(), "-CAcreateserial", "-days", "2", "-extfile",
             (dir / "san.ext").string(), "-out", cert});
    fs::create_directories(dir / "hashed");
    fs::copy_file(ca, dir / "hashed" / "ca.pem");
    openssl({"rehash", (dir / "hashed").string()});
    std::ofstream(dir / "pip.conf") << "[global]\ncert = " << ca << "\n";

    struct Case {
        const char* variable;
        std::string value;
        bool fetched;
    };
    const std::vector<Case> cases{
        {"PIP_CERT", ca, true},
        {"PIP_CONFIG_FILE", (dir / "pip.conf").string(), true},
        {"REQUESTS_CA_BUNDLE", ca, true},
        {"REQUESTS_CA_BUNDLE", (dir / "hashed").string(), true},
        {"CURL_CA_BUNDLE", ca, true},
        {"SSL_CERT_FILE", ca, true},
        {"SSL_CERT_DIR", (dir / "hashed").string(), true},
        {"HOME", dir.string(), false},  // none of them: the system's store does not know the CA
    };
    for (const Case& c : cases) {
        tessel_test::ScopedEnv env;
        for (const char* name : {"PIP_CERT", "REQUESTS_CA_BUNDLE", "CURL_CA_BUNDLE",
                                 "SSL_CERT_FILE", "SSL_CERT_DIR", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "PIP_PROXY"}) {
            env.set(name, std::nullopt);
        }
        env.set("PIP_CONFIG_FILE", "/dev/null");
        env.set(c.variable, c.value);
        const auto started = platform::run({"/usr/bin/python3", "-c", kServer, cert, key},
                                           {platform::Stream::Capture, platform::Stream::Capture});
        ASSERT_EQ(started.returncode, 0) << started.err;
        CatalogueRequest request;
        request.url = "https://127.0.0.1:" + started.out.substr(0, started.out.find('\n')) + "/";
        tessel_test::CapturedStdout out;
        const auto packages = _get_accessible_packages(request);
        const std::string notice = out.text();
        EXPECT_EQ(packages.has_value(), c.fetched) << c.variable << "=" << c.value << ": " << notice;
        if (!c.fetched) {
            EXPECT_NE(notice.find("the certificate of 127.0.0.1:"), std::string::npos) << notice;
            EXPECT_NE(notice.find(std::string(TRUST_STORE_PLACES)), std::string::npos) << notice;
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace tessel_installer::installer
