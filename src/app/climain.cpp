// fwload-cli's entry point; everything else lies in src/cli.
#include "cli/commands.h"

int main(int argc, char** argv) { return cli::Main(argc, argv); }
