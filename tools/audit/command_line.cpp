#include "tools/audit/command_line.h"

#include <algorithm>
#include <iostream>

namespace drav::audit {

namespace {

// Text lines of --help and of usage errors stay within this width.
constexpr size_t kWidth = 88;

std::string count_word(int n) {
  static const char* const kWords[] = {"no", "one", "two", "three"};
  return n >= 0 && n <= 3 ? kWords[n] : std::to_string(n);
}

int most_operands(const Command& c) {
  return static_cast<int>(c.operands.names.size());
}

std::string operand_error(const Command& c, bool too_many) {
  const Operands& o = c.operands;
  const int n = too_many ? most_operands(c) : o.required;
  const std::string noun = n == 1 ? o.noun : o.nouns;
  if (too_many) return std::string(c.name) + " takes " + count_word(n) + " " + noun;
  return std::string(c.name) + " needs " + (n == 1 ? std::string("a") : count_word(n)) + " " + noun;
}

// The words of a command's synopsis: "dump", "FILE", "[--as int|real|double|el]", ...
std::vector<std::string> synopsis_words(const Command& c) {
  std::vector<std::string> w{std::string("drav-audit ") + c.name};
  for (size_t i = 0; i < c.operands.names.size(); ++i) {
    const std::string name = c.operands.names[i];
    w.push_back(static_cast<int>(i) < c.operands.required ? name : "[" + name + "]");
  }
  for (const Option& o : c.options) {
    const std::string text = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
    if (o.or_previous && w.size() > 1) {
      w.back().insert(w.back().size() - 1, " | " + text);
    } else {
      w.push_back("[" + text + "]");
    }
  }
  return w;
}

// Words joined into lines of at most kWidth, the later lines indented by `hang`.
std::string wrap(const std::vector<std::string>& words, size_t indent, size_t hang) {
  std::string out(indent, ' '), line;
  size_t at = indent;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0 && at + 1 + words[i].size() > kWidth) {
      out += "\n" + std::string(hang, ' ');
      at = hang;
    } else if (i > 0) {
      out += ' ';
      ++at;
    }
    out += words[i];
    at += words[i].size();
  }
  return out + "\n";
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> w;
  size_t i = 0;
  while (i < text.size()) {
    const size_t end = std::min(text.find(' ', i), text.size());
    if (end > i) w.push_back(text.substr(i, end - i));
    i = end + 1;
  }
  return w;
}

std::string option_text(const Option& o) {
  return std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
}

// The column where the options' help begins.
size_t help_column() {
  size_t widest = 0;
  for (const Command& c : commands()) {
    for (const Option& o : c.options) widest = std::max(widest, option_text(o).size());
  }
  return 2 + widest + 2;
}

std::string options_text(const Command& c) {
  const size_t col = help_column();
  std::string out;
  for (const Option& o : c.options) {
    const std::string head = "  " + option_text(o);
    std::vector<std::string> words = words_of(o.help);
    words.insert(words.begin(), head + std::string(col - head.size() - 1, ' '));
    out += wrap(words, 0, col);
  }
  return out;
}

std::string command_title(const Command& c) {
  std::string s = c.name;
  for (size_t i = 0; i < c.operands.names.size(); ++i) {
    const std::string name = c.operands.names[i];
    s += " " + (static_cast<int>(i) < c.operands.required ? name : "[" + name + "]");
  }
  return s;
}

// A command's summary and options, as --help shows them.
std::string command_section(const Command& c) {
  return wrap(words_of(command_title(c) + ": " + c.summary), 0, 2) + options_text(c);
}

// Text for roff: minus signs and backslashes escaped, no line taken for a request.
std::string roff(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '-') {
      out += "\\-";
    } else if (ch == '\\') {
      out += "\\e";
    } else {
      out += ch;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

// One option in the synopsis: ".OP \-\-zero X", or two that exclude each other.
std::string man_option(const Option& o, const Option* alternative) {
  if (alternative) return ".RB [ " + roff(o.name) + " \" | \" " + roff(alternative->name) + " ]\n";
  return ".OP " + roff(o.name) + (o.value ? " " + roff(o.value) : "") + "\n";
}

}  // namespace

const Command* find_command(const std::string& name) {
  for (const Command& c : commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

std::string parse_arguments(const Command& c, const std::vector<std::string>& args, Settings& s) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') {
      if (static_cast<int>(s.operands.size()) == most_operands(c)) return operand_error(c, true);
      s.operands.push_back(a);
      continue;
    }
    const auto o = std::find_if(c.options.begin(), c.options.end(),
                                [&](const Option& x) { return a == x.name; });
    if (o == c.options.end()) return "unknown or incomplete option " + a;
    std::string value;
    if (o->value) {
      if (i + 1 == args.size())
        return *o->missing ? o->missing : "unknown or incomplete option " + a;
      value = args[++i];
    }
    const std::string err = o->take(s, *o, value);
    if (!err.empty()) return err;
  }
  if (static_cast<int>(s.operands.size()) < c.operands.required) return operand_error(c, false);
  return "";
}

int usage_error(const std::string& what) {
  std::cerr << "drav-audit: " << what << "\n" << usage_text();
  return kCheckError;
}

std::vector<std::string> synopsis_lines() {
  std::vector<std::string> lines;
  for (const Command& c : commands()) {
    std::string line;
    for (const std::string& w : synopsis_words(c)) line += (line.empty() ? "" : " ") + w;
    lines.push_back(line);
  }
  lines.push_back("drav-audit --help");
  lines.push_back("drav-audit --version");
  return lines;
}

std::string usage_text() {
  std::string out = "usage:\n";
  for (const Command& c : commands()) {
    const std::vector<std::string> w = synopsis_words(c);
    out += wrap(w, 2, 2 + w.front().size() + 1);
  }
  return out + "  drav-audit --help\n  drav-audit --version\n";
}

std::string command_help_text(const Command& c) {
  std::vector<std::string> w = synopsis_words(c);
  w.front() = "usage: " + w.front();
  return wrap(w, 0, w.front().size() + 1) + "\n" + command_section(c);
}

std::string help_text() {
  std::string out = usage_text();
  for (const Command& c : commands()) out += "\n" + command_section(c);
  out += "\n";
  out += wrap(words_of("DIR is the run directory (default: the current directory); -o paths are "
                       "taken from the directory the tool was started in. drav-audit COMMAND "
                       "--help shows one command; the manual page drav-audit.1 and "
                       "tools/README.md tell more."),
              0, 0);
  out += "\n" +
         wrap(words_of("exit status: 0 success (the check passed, the singular unknown was named, "
                       "the file was listed or written), 1 the results disagree with the model, 2 "
                       "a file is missing or damaged, or the command line is wrong."),
              0, 2);
  return out;
}

std::string man_synopsis() {
  std::string out = ".SH SYNOPSIS\n";
  for (const Command& c : commands()) {
    out += ".SY \"drav-audit " + roff(c.name) + "\"\n";
    for (size_t i = 0; i < c.operands.names.size(); ++i) {
      const std::string name = roff(c.operands.names[i]);
      out += static_cast<int>(i) < c.operands.required ? ".I " + name + "\n"
                                                       : ".RI [ " + name + " ]\n";
    }
    for (size_t i = 0; i < c.options.size(); ++i) {
      const bool pair = i + 1 < c.options.size() && c.options[i + 1].or_previous;
      out += man_option(c.options[i], pair ? &c.options[i + 1] : nullptr);
      if (pair) ++i;
    }
    out += ".YS\n";
  }
  return out + ".SY drav-audit\n.B \\-\\-help\n.YS\n.SY drav-audit\n.B \\-\\-version\n.YS\n";
}

std::string man_commands() {
  std::string out = ".SH COMMANDS\n";
  for (const Command& c : commands()) {
    out += ".TP\n.B " + roff(command_title(c)) + "\n" + roff(c.summary) + ".\n";
    if (c.options.empty()) continue;
    out += ".RS\n";
    for (const Option& o : c.options) {
      out += ".TP\n.B " + roff(option_text(o)) + "\n" + roff(o.help) + "\n";
    }
    out += ".RE\n";
  }
  return out;
}

}  // namespace drav::audit
