// The command line that aclctl, acl-devhost and acl-exporter share, on
// CLI11: the same help layout, the same words for a usage error, the same
// --version, so that the programs read alike.
//
// Header only: each program links CLI11 itself.

#ifndef ACL_CLIENT_COMMAND_LINE_H_
#define ACL_CLIENT_COMMAND_LINE_H_

#include <CLI/CLI.hpp>

#include <string>

namespace acl_client {

// Sets `app` up as every program's command line: `footer` after the flags,
// the flags' names in a column `width` wide, a usage error said as
// "PROGRAM: WHAT" and "Try 'PROGRAM --help'.", the last of a flag given
// twice counting (repeatable ones add up), and --version printing
// "PROGRAM VERSION".
inline void StyleCommandLine(CLI::App* app, const char* footer, int width,
                             const char* version) {
  app->footer(footer);
  app->get_formatter()->column_width(width);
  app->failure_message([](const CLI::App* a, const CLI::Error& e) {
    return a->get_name() + ": " + e.what() + "\nTry '" + a->get_name() +
           " --help'.\n";
  });
  app->option_defaults()->multi_option_policy(
      CLI::MultiOptionPolicy::TakeLast);
  app->set_version_flag("--version", app->get_name() + " " + version,
                        "print the version and exit");
}

// Adds the flag `name` (VALUE its placeholder in the help) that sets `*to`.
template <typename T>
CLI::Option* AddFlag(CLI::App* app, const char* name, const char* value,
                     T* to, const char* help) {
  return app->add_option(name, *to, help)->option_text(value);
}

}  // namespace acl_client

#endif  // ACL_CLIENT_COMMAND_LINE_H_
