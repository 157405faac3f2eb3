#include "tessel_installer/cli/frontdoor.hpp"

int main(int argc, char** argv) { return tessel_installer::frontdoor::run_cli(argc, argv); }
