#pragma once
// The command line of vesk-cli: which steps run, how their results and failures become
// output lines and the exit status.

namespace vesk {

/// Runs vesk-cli with its command line; returns the exit status (-1 leaves as 255).
int cli_main(int argc, char** argv);

}  // namespace vesk
