// Taking fwload-cli's arguments apart: the command, its operands and its options, which may
// stand anywhere after the command ("--" ends them).
#include "cli/cmdline.h"

#include <charconv>
#include <set>
#include <string_view>
#include <utility>

namespace cli {

namespace {

struct OptionSpec {
  std::string_view Name;
  bool TakesValue;
  std::set<Command> Commands;
};

const OptionSpec kOptions[] = {
    {"--json", false, {Command::Inspect, Command::Printers, Command::Send, Command::History}},
    {"--yes", false, {Command::Send}},
    {"--memory", true, {Command::Send}},
    {"--model", true, {Command::Send}},
    {"--no-command", false, {Command::Send}},
    {"--parallel", true, {Command::Send}},
    {"--verify", false, {Command::Send}},  // its value only after "="
    {"--limit", true, {Command::History}},
};

// A whole decimal number from `min` up; nullopt for anything else.
std::optional<long long> Number(std::string_view text, long long min) {
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min) {
    return std::nullopt;
  }
  return value;
}

// The words that name a command; the first of each is its name.
constexpr std::pair<std::string_view, Command> kCommands[] = {
    {"inspect", Command::Inspect}, {"printers", Command::Printers}, {"send", Command::Send},
    {"history", Command::History}, {"--help", Command::Help},       {"-h", Command::Help},
    {"help", Command::Help},       {"--version", Command::Version},
};

std::optional<Command> CommandOf(std::string_view word) {
  for (const auto& [name, command] : kCommands) {
    if (name == word) return command;
  }
  return std::nullopt;
}

std::string CommandName(Command c) {
  for (const auto& [name, command] : kCommands) {
    if (command == c) return std::string(name);
  }
  return "fwload-cli";
}

// Applies one option with its value; an error text when it does not fit.
std::string Apply(CommandLine& line, std::string_view name,
                  const std::optional<std::string>& value) {
  if (name == "--json") {
    line.Json = true;
  } else if (name == "--yes") {
    line.Yes = true;
  } else if (name == "--no-command") {
    line.NoCommand = true;
  } else if (name == "--memory") {
    if (*value == "keep") {
      line.InitMemory = false;
    } else if (*value == "init") {
      line.InitMemory = true;
    } else {
      return "--memory takes 'keep' or 'init', not '" + *value + "'";
    }
  } else if (name == "--model") {
    if (value->empty()) return "--model needs a model name";
    line.Model = *value;
  } else if (name == "--parallel") {
    const auto n = Number(*value, 1);
    if (!n || *n > 1000) return "--parallel takes a number from 1 to 1000, not '" + *value + "'";
    line.Parallel = static_cast<int>(*n);
  } else if (name == "--verify") {
    if (!value) {
      line.Verify = kDefaultVerify;
    } else {
      const auto n = Number(*value, 1);
      if (!n || *n > 86400)
        return "--verify=SECONDS takes 1 to 86400 seconds, not '" + *value + "'";
      line.Verify = std::chrono::seconds(*n);
    }
  } else if (name == "--limit") {
    const auto n = Number(*value, 0);
    if (!n) return "--limit takes a number of rows (0: all), not '" + *value + "'";
    line.Limit = static_cast<std::size_t>(*n);
  }
  return {};
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  CommandLine& line = parsed.Line;
  if (args.empty()) {
    parsed.Error = "no command given";
    return parsed;
  }
  const std::optional<Command> command = CommandOf(args[0]);
  if (!command) {
    parsed.Error = "unknown command '" + args[0] + "'";
    return parsed;
  }
  line.What = *command;
  if (line.What == Command::Help || line.What == Command::Version) {
    if (args.size() > 1) parsed.Error = "'" + args[0] + "' takes no further arguments";
    return parsed;
  }

  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string_view name = std::string_view(arg).substr(0, eq);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& o : kOptions) {
      if (o.Name == name) spec = &o;
    }
    if (!spec || !spec->Commands.contains(line.What)) {
      parsed.Error = "unknown option '" + std::string(name) + "' for " + CommandName(line.What);
      return parsed;
    }
    std::optional<std::string> value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      if (!spec->TakesValue && spec->Name != "--verify") {
        parsed.Error = std::string(name) + " takes no value";
        return parsed;
      }
    } else if (spec->TakesValue) {
      if (i + 1 >= args.size()) {
        parsed.Error = std::string(name) + " needs a value";
        return parsed;
      }
      value = args[++i];
    }
    parsed.Error = Apply(line, name, value);
    if (!parsed.Ok()) return parsed;
  }

  const std::string cmd = CommandName(line.What);
  switch (line.What) {
    case Command::Inspect:
    case Command::Send:
      if (operands.empty()) {
        parsed.Error = cmd + " needs a firmware FILE";
        return parsed;
      }
      line.File = operands.front();
      line.Targets.assign(operands.begin() + 1, operands.end());
      if (line.What == Command::Send && line.Targets.empty()) {
        parsed.Error = "send needs at least one TARGET (a queue name or ftp://host[:port][/dir])";
      } else if (line.What == Command::Inspect && !line.Targets.empty()) {
        parsed.Error = "inspect takes one FILE, not '" + line.Targets.front() + "'";
      }
      break;
    default:
      if (!operands.empty()) parsed.Error = cmd + " takes no operand '" + operands.front() + "'";
      break;
  }
  return parsed;
}

const char* UsageText() {
  return "Usage:\n"
         "  fwload-cli inspect FILE [--json]\n"
         "      the firmware file: header, models, data files and size, the stream a printer gets\n"
         "  fwload-cli printers [--json]\n"
         "      the print queues: driver, port, model code, whether they take the download\n"
         "      command, whether they can be updated and why not\n"
         "  fwload-cli send FILE TARGET... [options]\n"
         "      sends FILE to every TARGET: a queue name, or ftp://host[:port][/dir]\n"
         "      (dir defaults to ketora0)\n"
         "      --yes               answer every confirmation with OK; without it a confirmation\n"
         "                          stops that target (exit code 3)\n"
         "      --memory keep|init  the settings-memory answer for models that take the download\n"
         "                          command (required for them)\n"
         "      --model MODEL       the model of FTP printers that do not report one\n"
         "      --no-command        never send the download command\n"
         "      --parallel N        targets at a time (default 4)\n"
         "      --verify[=SECONDS]  after success, wait up to SECONDS (default 300) until the\n"
         "                          printer reports the file's version\n"
         "      --json              one JSON document on standard output instead of text\n"
         "  fwload-cli history [--json] [--limit N]\n"
         "      the downloads so far, newest first\n"
         "  fwload-cli --help | --version\n"
         "\n"
         "Progress goes to standard error. Exit codes: 0 every target succeeded; else the code of\n"
         "the first target (in argument order) that did not, as fwload's unattended run has them\n"
         "(3 stopped by a question, 32 unknown printer, 33 sending failed, ...); 2 usage error;\n"
         "4 the file could not be opened (no target touched); 37 the printer still reports "
         "another\n"
         "version; 38 the version could not be confirmed; 40 interrupted (SIGINT, SIGTERM,\n"
         "SIGHUP): every running transfer aborted.\n";
}

}  // namespace cli
