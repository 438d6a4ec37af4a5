// torqa-cli: the player's engine from a terminal, one subcommand per job.
#include <cstdio>
#include <cstring>

#include "tools/cli/commands.h"

static const CliCommand kCommands[] = {
    {"info", "SONG", "header, track names, length and event counts of a MIDI file", CmdInfo},
    {"render", "SONG... [-o OUT.wav] ...", "record songs to WAV files (render --help)", CmdRender},
    {"play", "SONG [--from M] ...", "play a song through the sound device (play --help)", CmdPlay},
};

static void PrintUsage(std::FILE *pOut) {
  std::fprintf(pOut, "usage: torqa-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const CliCommand &command : kCommands)
    std::fprintf(pOut, "  %-7s %-24s %s\n", command.pszName, command.pszArgs, command.pszHelp);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") ||
      !std::strcmp(argv[1], "help")) {
    PrintUsage(stdout);
    return 0;
  }
  for (const CliCommand &command : kCommands)
    if (!std::strcmp(argv[1], command.pszName))
      return command.pfnRun(argc - 1, argv + 1);
  std::fprintf(stderr, "torqa-cli: unknown command '%s' (try torqa-cli help)\n", argv[1]);
  return 2;
}
