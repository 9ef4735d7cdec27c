#pragma once

// How hopwise-cli's options read. Every option is added here with its group, the name of its
// value, what it does, its default in words and a check that says in words what it accepts, so
// that --help reads like a man page's synopsis and a refused value is told in one line:
// "hopwise-cli ping: -c 1.1: the count must be a whole number from 1 to 2147483647, or inf".
// Only cli/ includes this (CLI11 stays inside the front end).

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace hopwise::cli {

// The groups --help lists a command's options under, in this order.
inline constexpr std::string_view kGroupProbing = "Probing";
inline constexpr std::string_view kGroupOutput = "Output";
inline constexpr std::string_view kGroupAddresses = "Addresses";
inline constexpr std::string_view kGroupOther = "Other";

struct OptionHelp {
    std::string_view group;
    std::string value;     // the value's name ("N", "S", "N|inf"); empty for a flag
    std::string text;      // what it does
    std::string byDefault; // the default in words ("1 second"); empty when there is none to tell
};

// What a value may be: "the count" must be "a whole number from 1 to 2147483647, or inf".
// accepts may rewrite a value it takes into the form it is stored from ("+010" to "10": CLI11
// would read a leading 0 as octal).
struct ValueCheck {
    std::string what;
    std::string accepted;
    std::function<bool(std::string&)> accepts;
};

ValueCheck WholeNumber(std::string what, std::int64_t low, std::int64_t high);
// Decimals allowed; "a number of seconds from 0.001 to 600".
ValueCheck Seconds(std::string what, double low, double high);
// One of the words, in any case.
ValueCheck OneOf(std::string what, std::vector<std::string> words);
// Either check's values; the second's are named as an alternative ("..., or inf").
ValueCheck Either(const ValueCheck& first, const ValueCheck& second);

// Thrown out of the parse when an option's value fails its check.
class RefusedValue : public std::runtime_error {
public:
    RefusedValue(const CLI::Option* option, std::string value, const std::string& sentence)
        : std::runtime_error(sentence), m_option(option), m_value(std::move(value))
    {
    }
    const CLI::Option* option() const { return m_option; }
    const std::string& value() const { return m_value; }

private:
    const CLI::Option* m_option;
    std::string m_value;
};

// An option that takes a value into target (a number or a text), checked before it is stored.
template <class T>
CLI::Option* AddValue(CLI::App& command, const std::string& names, T& target,
                      const OptionHelp& help, const ValueCheck& check);
// An option without a value.
CLI::Option* AddFlag(CLI::App& command, const std::string& names, bool& target,
                     const OptionHelp& help);
CLI::Option* AddFlag(CLI::App& command, const std::string& names, std::function<void()> set,
                     const OptionHelp& help);
// The command's positional argument (HOST), listed first in its group.
CLI::Option* AddOperand(CLI::App& command, const std::string& name, std::string& target,
                        const OptionHelp& help);
// -h, --help and -V, --version, added first so that they win over any refused value after them.
void AddHelpAndVersion(CLI::App& command);

// The command's help: usage, description, the groups and the footer, wrapped at 80 columns.
std::string CommandHelp(const CLI::App& command);

// What was wrong with the arguments (args: argv after the program's name): one line that
// starts with the program's and the command's name, then "Try 'hopwise-cli ping --help'." (no
// newline after it); empty when nothing was. error is what the parse threw, if anything (help
// and version aside).
std::string Complaint(const CLI::App& app, const std::vector<std::string>& args,
                      const std::exception_ptr& error);

// The command that args named, if CLI11 got that far.
const CLI::App* ParsedCommand(const CLI::App& app);

namespace detail {
std::string Described(const OptionHelp& help);
CLI::Validator Checked(const CLI::Option* option, ValueCheck check);
} // namespace detail

template <class T>
CLI::Option* AddValue(CLI::App& command, const std::string& names, T& target,
                      const OptionHelp& help, const ValueCheck& check)
{
    CLI::Option* option = command.add_option(names, target, detail::Described(help));
    option->group(std::string(help.group))->type_name(help.value);
    option->check(detail::Checked(option, check));
    return option;
}

} // namespace hopwise::cli
