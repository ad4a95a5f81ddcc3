#include "cli/options.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>

#include "cli/help.h"
#include "taskclient.h"

// The tool's version comes from the build (the project's version); the
// library's from its header once that names one, else it is the same build's.
#ifndef TASKCLIENT_TOOL_VERSION
#define TASKCLIENT_TOOL_VERSION "unknown"
#endif
#ifdef TASKCLIENT_VERSION_STRING
#define TASKCLIENT_LIBRARY_VERSION TASKCLIENT_VERSION_STRING
#else
#define TASKCLIENT_LIBRARY_VERSION TASKCLIENT_TOOL_VERSION
#endif

namespace cli {

std::optional<int> ReadOptions(int argc, char** argv, CommandLine* line) {
  bool raw = false;
  bool include = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // --name=value: the same as --name value, for the options that take one.
    std::optional<std::string> attached;
    const size_t equals = arg.find('=');
    if (!optionsEnded && arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      const std::string name = arg.substr(0, equals);
      if (name == "--service" || name == "--field" || name == "--redirect-uri" || name == "--code-verifier") {
        attached = arg.substr(equals + 1);
        arg = name;
      }
    }
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      line->words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      line->help = true;
    } else if (arg == "-V" || arg == "--version") {
      line->version = true;
    } else if (arg == "-i" || arg == "--include") {
      include = true;
    } else if (arg == "--raw") {
      raw = true;
    } else if (arg == "--verbose" || arg == "-v") {
      line->settings.verbose = true;
    } else if (arg == "--pkce") {
      line->pkce = true;
    } else if (arg == "--all") {
      line->all = true;
    } else if (arg == "-o" || arg == "--service" || arg == "--field" || arg == "--redirect-uri" ||
               arg == "--code-verifier") {
      if (!attached && i + 1 >= argc) return UsageError(arg + " needs a value");
      std::string value = attached ? *attached : argv[++i];
      if (arg == "-o") {
        line->settings.output = value;
      } else if (arg == "--field") {
        line->settings.fields.push_back(value);
      } else if (arg == "--redirect-uri") {
        line->redirectUri = value;
      } else if (arg == "--code-verifier") {
        line->codeVerifier = value;
      } else {
        size_t colon = value.rfind(':');
        char* end = nullptr;
        if (colon != std::string::npos) line->servicePort = std::strtol(value.c_str() + colon + 1, &end, 10);
        if (colon == std::string::npos || colon == 0 || colon + 1 == value.size() || *end ||
            line->servicePort < 1 || line->servicePort > 65535) {
          return UsageError("--service takes HOST:PORT, not \"" + value + "\"");
        }
        line->serviceHost = value.substr(0, colon);
        line->serviceAddress = value;
      }
    } else if (arg.compare(0, 2, "--") == 0) {
      return UsageError("unknown option " + arg + " (put -- before values that begin with '--')");
    } else {
      if (line->unknownOption.empty()) line->unknownOption = arg;
      line->words.push_back(arg);
    }
  }
  if (line->version) {
    // The TLS path and the certificate rule the library was built with: what
    // a reader of the output must know about who else may read the traffic.
#if defined(TASKCLIENT_TLS_BEARSSL)
    const char* tls = "BearSSL 0.6, compiled in";
#else
    const char* tls = OpenSSL_version(OPENSSL_VERSION);
#endif
    const char* certificates = TASKCLIENT_VERIFY_SERVER ? "checked (chain, dates and host name)"
                                                        : "not checked: every certificate is accepted";
    std::printf("taskclient %s (libtaskclient %s)\nTLS: %s\ncertificates: %s\n", TASKCLIENT_TOOL_VERSION,
                TASKCLIENT_LIBRARY_VERSION, tls, certificates);
    return 0;
  }
  if (!line->settings.fields.empty() && (raw || include)) {
    return UsageError(std::string(raw ? "--raw" : "--include") + " outputs the reply; --field outputs values");
  }
  // --raw already holds the head that --include adds.
  line->settings.mode = raw ? Mode::kRaw : include ? Mode::kInclude : Mode::kBody;
  return std::nullopt;
}

}  // namespace cli
