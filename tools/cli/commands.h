// The subcommands of torqa-cli. Each lives in its own cmd_<name>.cpp and has one
// line in the table in main.cpp. argv[0] is the subcommand's name.
#pragma once

struct CliCommand {
  const char *pszName;
  const char *pszArgs; // shown in the usage text
  const char *pszHelp; // one line
  int (*pfnRun)(int argc, char **argv);
};

int CmdInfo(int argc, char **argv);
int CmdRender(int argc, char **argv);
int CmdPlay(int argc, char **argv);
