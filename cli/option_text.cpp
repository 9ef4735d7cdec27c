#include "cli/option_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

namespace hopwise::cli {

namespace {

constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kNamesWidth = 22; // "  " names "  " text: the text starts at column 26

// "0.001", "600", "3600": as a person types them, not as printf's %f.
std::string number(double value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

bool sameWord(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// "a, b or c"
std::string listed(const std::vector<std::string>& words, std::string_view last)
{
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text += i == 0 ? "" : i + 1 == words.size() ? std::string(last) : ", ";
        text += words[i];
    }
    return text;
}

// Appends text in words broken at blanks, each line indented to column indent (the first line
// too, which starts at column at).
void wrapped(std::string& out, std::string_view text, std::size_t indent, std::size_t at)
{
    std::istringstream words{std::string(text)};
    std::string word;
    std::size_t column = at;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kHelpWidth) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
    }
    out += '\n';
}

std::string optionNames(const CLI::Option& option)
{
    if (option.get_positional()) {
        return option.get_name(true, false);
    }
    std::string names;
    for (const std::string& name : option.get_snames()) {
        names += (names.empty() ? "-" : ", -") + name;
    }
    for (const std::string& name : option.get_lnames()) {
        names += (names.empty() ? "    --" : ", --") + name;
    }
    if (option.get_type_size() != 0 && !option.get_type_name().empty()) {
        names += ' ' + option.get_type_name();
    }
    return names;
}

void row(std::string& out, const std::string& names, const std::string& text)
{
    out += "  " + names;
    if (names.size() > kNamesWidth) {
        out += '\n';
        out.append(kNamesWidth + 4, ' ');
    } else {
        out.append(kNamesWidth + 2 - names.size(), ' ');
    }
    wrapped(out, text, kNamesWidth + 4, kNamesWidth + 4);
}

std::string commandPath(const CLI::App& command)
{
    return command.get_parent() == nullptr
               ? command.get_name()
               : commandPath(*command.get_parent()) + ' ' + command.get_name();
}

bool isOptionText(std::string_view arg)
{
    return arg.size() > 1 && arg[0] == '-';
}

// "-x" of "-xc3", "--frob" of "--frob=1".
std::string optionNameOf(std::string_view arg)
{
    if (arg.starts_with("--")) {
        return std::string(arg.substr(0, arg.find('=')));
    }
    return std::string(arg.substr(0, 2));
}

// Whether text stands only after "--" in args, where it is an operand whatever it looks like.
bool onlyAfterEnd(const std::vector<std::string>& args, const std::string& text)
{
    const auto end = std::find(args.begin(), args.end(), "--");
    return end != args.end() && std::find(args.begin(), end, text) == end &&
           std::find(end + 1, args.end(), text) != args.end();
}

std::string typedName(const CLI::Option& option, const std::vector<std::string>& args)
{
    std::string typed;
    for (const std::string& arg : args) {
        if (arg == "--") {
            break;
        }
        if (!isOptionText(arg)) {
            continue;
        }
        const std::string name = optionNameOf(arg);
        if (name.starts_with("--") ? option.check_lname(name.substr(2))
                                   : option.check_sname(name.substr(1))) {
            typed = name;
        }
    }
    if (!typed.empty()) {
        return typed;
    }
    return option.get_snames().empty() ? "--" + option.get_lnames().front()
                                       : "-" + option.get_snames().front();
}

std::string refusalOf(const CLI::App& command, const std::vector<std::string>& args,
                      const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const RefusedValue& refused) {
        return typedName(*refused.option(), args) + ' ' + refused.value() + ": " + refused.what();
    } catch (const CLI::ArgumentMismatch&) {
        // Only the last argument can have run out of values.
        std::string name = optionNameOf(args.back());
        if (!name.starts_with("--")) {
            name = std::string("-") + args.back().back();
        }
        const CLI::Option* option = command.get_option_no_throw(name);
        return name + " needs a value" +
               (option != nullptr ? " (" + option->get_type_name() + ")" : std::string());
    } catch (const CLI::RequiredError&) {
        for (const CLI::Option* operand :
             command.get_options([](const CLI::Option* o) { return o->get_positional(); })) {
            if (operand->get_required() && operand->count() == 0) {
                return "missing " + operand->get_name(true, false);
            }
        }
        throw;
    } catch (const CLI::ExcludesError&) {
        for (const CLI::Option* option : command.get_options()) {
            for (const CLI::Option* other : option->get_excludes()) {
                if (option->count() != 0 && other->count() != 0) {
                    return typedName(*option, args) + " and " + typedName(*other, args) +
                           " exclude each other";
                }
            }
        }
        throw;
    }
}

} // namespace

ValueCheck WholeNumber(std::string what, std::int64_t low, std::int64_t high)
{
    return {std::move(what),
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high),
            [low, high](std::string& value) {
                std::string_view digits = value;
                if (digits.starts_with('+')) {
                    digits.remove_prefix(1);
                }
                std::int64_t number = 0;
                const auto [end, failure] =
                    std::from_chars(digits.data(), digits.data() + digits.size(), number);
                if (failure != std::errc() || end != digits.data() + digits.size() ||
                    number < low || number > high) {
                    return false;
                }
                value = std::to_string(number);
                return true;
            }};
}

ValueCheck Seconds(std::string what, double low, double high)
{
    return {std::move(what), "a number of seconds from " + number(low) + " to " + number(high),
            [low, high](std::string& value) {
                std::string_view text = value;
                if (text.starts_with('+')) {
                    text.remove_prefix(1);
                }
                double seconds = 0;
                const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(),
                                                            seconds, std::chars_format::fixed);
                if (failure != std::errc() || end != text.data() + text.size() ||
                    !(seconds >= low && seconds <= high)) {
                    return false;
                }
                value = std::string(text);
                return true;
            }};
}

ValueCheck OneOf(std::string what, std::vector<std::string> words)
{
    std::string accepted = listed(words, " or ");
    return {std::move(what), std::move(accepted), [words = std::move(words)](std::string& value) {
                return std::any_of(words.begin(), words.end(), [&value](const std::string& word) {
                    return sameWord(word, value);
                });
            }};
}

ValueCheck Either(const ValueCheck& first, const ValueCheck& second)
{
    return {first.what, first.accepted + ", or " + second.accepted,
            [a = first.accepts, b = second.accepts](std::string& value) {
                return a(value) || b(value);
            }};
}

CLI::Option* AddFlag(CLI::App& command, const std::string& names, bool& target,
                     const OptionHelp& help)
{
    return command.add_flag(names, target, detail::Described(help))->group(std::string(help.group));
}

CLI::Option* AddFlag(CLI::App& command, const std::string& names, std::function<void()> set,
                     const OptionHelp& help)
{
    return command.add_flag_callback(names, std::move(set), detail::Described(help))
        ->group(std::string(help.group));
}

CLI::Option* AddOperand(CLI::App& command, const std::string& name, std::string& target,
                        const OptionHelp& help)
{
    return command.add_option(name, target, detail::Described(help))
        ->group(std::string(help.group))
        ->required();
}

void AddHelpAndVersion(CLI::App& command)
{
    command.set_help_flag();
    // Unknown options are told by Complaint, with the option's name, not by CLI11.
    command.allow_extras();
    AddFlag(command, "-h,--help", [] { throw CLI::CallForHelp(); },
            {kGroupOther, "", "Show this help and exit", ""});
    AddFlag(command, "-V,--version", [] { throw CLI::CallForVersion(); },
            {kGroupOther, "", "Show the version and exit", ""});
}

std::string CommandHelp(const CLI::App& command)
{
    const std::vector<const CLI::App*> commands = command.get_subcommands({});
    std::string help = "Usage: " + commandPath(command);
    help += commands.empty() ? " [OPTION]... HOST\n" : " COMMAND [OPTION]... HOST\n";
    wrapped(help, command.get_description(), 0, 0);

    if (!commands.empty()) {
        help += "\nCommands:\n";
        for (const CLI::App* sub : commands) {
            row(help, sub->get_name(), sub->get_description());
        }
    }
    std::vector<std::string> groups = {std::string(kGroupProbing), std::string(kGroupOutput),
                                       std::string(kGroupAddresses)};
    for (const CLI::Option* option : command.get_options()) {
        if (std::find(groups.begin(), groups.end(), option->get_group()) == groups.end() &&
            option->get_group() != kGroupOther) {
            groups.push_back(option->get_group());
        }
    }
    groups.emplace_back(kGroupOther);
    for (const std::string& group : groups) {
        const std::vector<const CLI::Option*> options = command.get_options(
            [&group](const CLI::Option* option) { return option->get_group() == group; });
        if (options.empty()) {
            continue;
        }
        help += '\n' + group + ":\n";
        // The operand first, then the options as they were added.
        for (const bool operands : {true, false}) {
            for (const CLI::Option* option : options) {
                if (option->get_positional() == operands) {
                    row(help, optionNames(*option), option->get_description());
                }
            }
        }
    }
    if (!command.get_footer().empty()) {
        help += '\n' + command.get_footer();
    }
    return help;
}

const CLI::App* ParsedCommand(const CLI::App& app)
{
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->parsed()) {
            return command;
        }
    }
    return nullptr;
}

std::string Complaint(const CLI::App& app, const std::vector<std::string>& args,
                      const std::exception_ptr& error)
{
    const CLI::App* command = ParsedCommand(app);
    const auto complaint = [](const CLI::App& about, const std::string& what) {
        return commandPath(about) + ": " + what + "\nTry '" + commandPath(about) + " --help'.";
    };
    for (const std::string& arg : app.remaining(false)) {
        if (isOptionText(arg) && arg != "--") {
            return complaint(app, "unknown option: " + optionNameOf(arg));
        }
    }
    if (command == nullptr) {
        std::vector<std::string> names;
        for (const CLI::App* sub : app.get_subcommands({})) {
            names.push_back(sub->get_name());
        }
        if (!args.empty() && !isOptionText(args.front())) {
            return complaint(app, "unknown command: " + args.front() + " (expected " +
                                      listed(names, " or ") + ")");
        }
        if (error == nullptr) {
            return {};
        }
        return complaint(app, "missing command: " + listed(names, " or "));
    }

    // CLI11 leaves an unknown "-name" over, and takes "-1" for an operand. "--" is left over too.
    std::vector<std::string> leftOver;
    for (const CLI::Option* operand :
         command->get_options([](const CLI::Option* o) { return o->get_positional(); })) {
        leftOver.insert(leftOver.end(), operand->results().begin(), operand->results().end());
    }
    std::vector<std::string> extra;
    for (const std::string& arg : command->remaining(false)) {
        if (arg != "--") {
            leftOver.push_back(arg);
            extra.push_back(arg);
        }
    }
    for (const std::string& arg : leftOver) {
        if (isOptionText(arg) && !onlyAfterEnd(args, arg)) {
            std::string what = "unknown option: " + optionNameOf(arg);
            if (arg == args.back()) {
                what += " (a host that begins with '-' goes after --: " + commandPath(*command) +
                        " -- " + arg + ")";
            }
            return complaint(*command, what);
        }
    }
    if (error != nullptr) {
        try {
            return complaint(*command, refusalOf(*command, args, error));
        } catch (const std::exception& other) {
            return complaint(*command, other.what());
        }
    }
    return extra.empty() ? std::string()
                         : complaint(*command, "unexpected argument: " + extra.front());
}

namespace detail {

std::string Described(const OptionHelp& help)
{
    return help.byDefault.empty() ? help.text : help.text + " (default " + help.byDefault + ")";
}

CLI::Validator Checked(const CLI::Option* option, ValueCheck check)
{
    return CLI::Validator(
        [option, check = std::move(check)](std::string& value) {
            const std::string typed = value;
            if (!check.accepts(value)) {
                throw RefusedValue(option, typed, check.what + " must be " + check.accepted);
            }
            return std::string();
        },
        "");
}

} // namespace detail

} // namespace hopwise::cli
