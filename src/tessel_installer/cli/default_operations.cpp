// The real operations behind the handlers, and the program's entry point over them. Kept apart
// from the grammar so the front end's tests link without the engine.
#include <iostream>

#include "tessel_installer/cli/frontdoor.hpp"
#include "tessel_installer/installation/installer.hpp"
#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/platform/standard_streams.hpp"
#include "tessel_installer/utils/termwrite/termwrite.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace tessel_installer::frontdoor {

Operations default_operations() {
    Operations ops;
    ops.install_packages = &installer::install_packages;
    ops.install_packages_from_folder = &installer::install_packages_from_folder;
    ops.download_packages = &installer::download_packages;
    ops.uninstall_packages = &installer::uninstall_packages;
    ops.list_packages = &installer::list_packages;
    ops.print_check_results = &hostcheck::print_check_results;
    ops.list_packages_json = &installer::list_packages_json;
    ops.print_check_results_json = &hostcheck::print_check_results_json;
    ops.install_interrupt_handlers = &platform::install_interrupt_handlers;
    ops.pending_interrupt = [] { return platform::pending_interrupt(); };
    return ops;
}

int run_cli(int argc, char** argv) {
    platform::reserve_standard_streams();
    platform::ignore_broken_pipe();
    const std::vector<std::string> arguments = platform::command_line_arguments(argc, argv);
    const int status = run_cli(arguments, default_operations(), std::cout, std::cerr);
    // Help, listings and reports are the output: a run whose output was lost has failed.
    if (const auto failure = termwrite::close_standard_output()) {
        std::cerr << "tessel-installer: error: " << *failure << '\n' << std::flush;
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace tessel_installer::frontdoor
