// The program's own catalogue request, sent to an address given on the command line instead of
// the configured one: the end-to-end leg uses it to see Schannel refuse a certificate that Windows
// does not trust. Prints what the program would (the fetch notice on failure) and exits 1 when
// the fetch failed, 0 when a catalogue came back.
#include <iostream>

#include "tessel_installer/installation/engine.hpp"
#include "tessel_installer/platform/environment.hpp"

int main(int argc, char** argv) {
    namespace installer = tessel_installer::installer;
    const auto arguments = tessel_installer::platform::command_line_arguments(argc, argv);
    if (arguments.size() != 1) {
        std::cerr << "usage: catalogue_probe URL\n";
        return 2;
    }
    auto request = installer::_configured_catalogue_request();
    request.url = arguments.front();
    const auto packages = installer::_get_accessible_packages(request);
    std::cout << std::flush;
    return packages ? 0 : 1;
}
