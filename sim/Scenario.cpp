// Scenario files: their parser, which trusts nothing of the file, and their playback.
#include "Scenario.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>

#include "Ansi.h"
#include "Results.h"
#include "Sale.h"

namespace kelvora::sim {
namespace {

constexpr std::uintmax_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxSteps = 100000;
// The caller's buffer holds 20000 bytes of data and the NUL.
constexpr std::size_t kMaxTextBytes = 20000;

// The fields whose values are card data or secrets: never repeated in a report.
bool isSecretField(int field) {
  return field == 500 || field == 512 || field == 513 || field == 514;
}

// One line of the file, taken apart word by word; every failure names the line.
class LineReader {
 public:
  LineReader(std::string_view text, int line) : text_(text), line_(line) {}

  [[noreturn]] void fail(const std::string& reason) const { throw ScenarioError(line_, reason); }

  bool atEnd() {
    skipBlanks();
    return pos_ >= text_.size();
  }

  bool nextIsQuoted() {
    skipBlanks();
    return pos_ < text_.size() && text_[pos_] == '"';
  }

  // The next word: everything up to a blank.
  std::string_view word() {
    skipBlanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ' ' && text_[pos_] != '\t') ++pos_;
    if (start == pos_) fail("falta um valor");
    return text_.substr(start, pos_ - start);
  }

  // A quoted text with its escapes resolved, checked to be Windows-1252 text the library can
  // hand out; returned in UTF-8.
  std::string quoted() {
    skipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != '"') fail("falta um texto entre aspas");
    ++pos_;
    std::string utf8;
    std::size_t ansiBytes = 0;
    for (;;) {
      if (pos_ >= text_.size()) fail("texto sem aspas de fechamento");
      const char c = text_[pos_];
      if (c == '"') break;
      if (c == '\\') {
        utf8 += escape();
        ++ansiBytes;
      } else {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(c));
        const std::string_view sequence = text_.substr(pos_, length);
        const std::string ansi = toAnsi(sequence);
        if (length == 0 || sequence.size() != length || ansi.size() != 1 ||
            (ansi == "?" && sequence != "?")) {
          fail("caractere que não é UTF-8 válido ou não existe em Windows-1252");
        }
        utf8 += sequence;
        ansiBytes += 1;
        pos_ += length;
      }
      if (ansiBytes > kMaxTextBytes) fail("texto de mais de 20000 bytes");
    }
    ++pos_;
    if (pos_ < text_.size() && text_[pos_] != ' ' && text_[pos_] != '\t') {
      fail("texto seguido de outro sem espaço");
    }
    return utf8;
  }

 private:
  void skipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }

  static std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
  }

  // One escape at pos_ (a backslash): \\ \" \n \r \t, or \xHH, the Windows-1252 character HH.
  std::string escape() {
    if (pos_ + 1 >= text_.size()) fail("escape incompleto");
    const char kind = text_[pos_ + 1];
    pos_ += 2;
    switch (kind) {
      case '\\':
        return "\\";
      case '"':
        return "\"";
      case 'n':
        return "\n";
      case 'r':
        return "\r";
      case 't':
        return "\t";
      case 'x':
        break;
      default:
        fail(std::string("escape desconhecido \\") + kind);
    }
    unsigned value = 0;
    const auto* first = text_.data() + pos_;
    const auto* last = first + std::min<std::size_t>(2, text_.size() - pos_);
    const auto [ptr, ec] = std::from_chars(first, last, value, 16);
    if (ec != std::errc{} || ptr != first + 2) fail("\\x pede dois algarismos hexadecimais");
    pos_ += 2;
    const std::string utf8 = fromAnsi(static_cast<unsigned char>(value));
    if (utf8.empty()) fail("\\x" + std::string(first, 2) + " não é um caractere de Windows-1252");
    return utf8;
  }

  std::string_view text_;
  int line_;
  std::size_t pos_ = 0;
};

template <typename Number>
Number number(LineReader& reader, std::string_view text) {
  long long value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || ptr != text.data() + text.size() ||
      value < std::numeric_limits<Number>::min() || value > std::numeric_limits<Number>::max()) {
    reader.fail("número inválido ou fora dos limites: " + std::string(text));
  }
  return static_cast<Number>(value);
}

// command CODE [field=N] [min=N] [max=N] ["TEXT"]
ScenarioStep commandLine(LineReader& reader) {
  ScenarioStep step;
  step.command.code = number<int>(reader, reader.word());
  bool seenField = false, seenMin = false, seenMax = false;
  while (!reader.atEnd() && !reader.nextIsQuoted()) {
    const std::string_view option = reader.word();
    const auto equals = option.find('=');
    const std::string_view key = option.substr(0, equals);
    if (equals == std::string_view::npos) reader.fail("opção sem '=': " + std::string(option));
    const std::string_view value = option.substr(equals + 1);
    bool* seen = key == "field" ? &seenField
                 : key == "min" ? &seenMin
                 : key == "max" ? &seenMax
                                : nullptr;
    if (!seen) reader.fail("opção desconhecida: " + std::string(key));
    if (*seen) reader.fail("opção repetida: " + std::string(key));
    *seen = true;
    if (key == "field") step.command.field = number<int>(reader, value);
    if (key == "min") step.command.minLength = number<short>(reader, value);
    if (key == "max") step.command.maxLength = number<short>(reader, value);
  }
  if (!reader.atEnd()) step.command.data = reader.quoted();
  return step;
}

// result FIELD "VALUE": a result field, which the library hands out as command 0.
ScenarioStep resultLine(LineReader& reader) {
  ScenarioStep step;
  step.command.code = 0;
  step.command.field = number<int>(reader, reader.word());
  step.command.data = reader.quoted();
  return step;
}

Expectation expectLine(LineReader& reader) {
  Expectation expect;
  if (reader.nextIsQuoted()) {
    expect.kind = Expectation::Kind::Text;
    expect.text = reader.quoted();
    return expect;
  }
  const std::string_view what = reader.word();
  if (what == "any") {
    expect.kind = Expectation::Kind::Anything;
  } else if (what == "back") {
    expect.kind = Expectation::Kind::Back;
  } else if (what == "abort") {
    expect.kind = Expectation::Kind::Abort;
  } else {
    reader.fail("expect pede um texto entre aspas, any, back ou abort");
  }
  return expect;
}

std::string describe(Reply reply, std::string_view answer, bool secret) {
  if (reply == Reply::Back) return "back";
  if (reply == Reply::Abort) return "abort";
  return "\"" + (secret ? std::string(answer.size(), '*') : std::string(answer)) + "\"";
}

std::string describe(const Expectation& expect) {
  switch (expect.kind) {
    case Expectation::Kind::Back:
      return "back";
    case Expectation::Kind::Abort:
      return "abort";
    case Expectation::Kind::Text:
      return "\"" + toAnsi(expect.text) + "\"";
    case Expectation::Kind::Anything:
      break;
  }
  return "any";
}

}  // namespace

Scenario parseScenario(std::string_view text, std::string name) {
  Scenario scenario{std::move(name), {}};
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
  bool ended = false, expected = false;
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    LineReader reader(line, lineNumber);
    for (const char c : line) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
        reader.fail("caractere de controle na linha");
      }
    }
    if (reader.atEnd()) continue;
    const std::string_view keyword = reader.word();
    if (keyword[0] == '#') continue;
    if (ended) reader.fail("nada pode vir depois de final");
    if (keyword == "expect") {
      if (scenario.steps.empty() || expected) {
        reader.fail("expect só vem logo depois de um command ou result");
      }
      scenario.steps.back().expect = expectLine(reader);
      expected = true;
    } else {
      ScenarioStep step;
      if (keyword == "command") {
        step = commandLine(reader);
      } else if (keyword == "result") {
        step = resultLine(reader);
      } else if (keyword == "final") {
        step.final = true;
        step.status = number<int>(reader, reader.word());
        if (step.status == kCommandPending) reader.fail("10000 não é um status final");
        ended = true;
      } else {
        reader.fail("palavra desconhecida: " + std::string(keyword));
      }
      if (scenario.steps.size() >= kMaxSteps) reader.fail("cenário de mais de 100000 passos");
      step.line = lineNumber;
      scenario.steps.push_back(std::move(step));
      expected = false;
    }
    if (!reader.atEnd()) reader.fail("sobra texto no fim da linha");
  }
  if (!ended) throw ScenarioError(0, "cenário sem a linha final");
  return scenario;
}

Scenario readScenario(const std::filesystem::path& file, std::string name) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error) throw ScenarioError(0, "não foi possível ler o arquivo");
  if (size > kMaxFileBytes) throw ScenarioError(0, "arquivo de mais de 4 MiB");
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw ScenarioError(0, "não foi possível ler o arquivo");
  if (text.size() > kMaxFileBytes) throw ScenarioError(0, "arquivo de mais de 4 MiB");
  return parseScenario(text, std::move(name));
}

ScenarioPlayer::ScenarioPlayer(Scenario scenario, ScenarioStart start, const Ledger& ledger,
                               Host& host)
    : scenario_(std::move(scenario)), start_(std::move(start)), ledger_(ledger), host_(host) {}

Step ScenarioPlayer::next(Reply reply, std::string_view answer) {
  Step out;
  if (position_ > 0) {
    const ScenarioStep& previous = scenario_.steps[position_ - 1];
    if (!matches(previous.expect, reply, answer)) {
      reportMismatch(previous, reply, answer);
      position_ = scenario_.steps.size();
      out.status = kScenarioMismatch;
      return out;
    }
  }
  if (position_ >= scenario_.steps.size()) {
    out.status = kScenarioMismatch;  // the caller went on after the final status
    return out;
  }
  const ScenarioStep& step = scenario_.steps[position_++];
  if (!step.final) {
    out.command = step.command;
    return out;
  }
  out.status = step.status;
  if (step.status == 0 && !recordApproval()) out.status = kInternalError;
  return out;
}

bool ScenarioPlayer::matches(const Expectation& expect, Reply reply,
                             std::string_view answer) const {
  switch (expect.kind) {
    case Expectation::Kind::Anything:
      return true;
    case Expectation::Kind::Back:
      return reply == Reply::Back;
    case Expectation::Kind::Abort:
      return reply == Reply::Abort;
    case Expectation::Kind::Text:
      return reply == Reply::Continue && answer == toAnsi(expect.text);
  }
  return false;
}

void ScenarioPlayer::reportMismatch(const ScenarioStep& step, Reply reply,
                                    std::string_view answer) const {
  const std::string expected = describe(step.expect);
  const std::string got = describe(reply, answer, isSecretField(step.command.field));
  Event event("MISMATCH");
  event.set("scenario", scenario_.name)
      .set("line", std::to_string(step.line))
      .set("command", std::to_string(step.command.code))
      .set("field", std::to_string(step.command.field))
      .set("expected", expected)
      .set("got", got)
      .set("at", hostDateTime(Clock::now()));
  ledger_.append(event);
  std::fprintf(stderr,
               "Simulador CliSiTef: cenário %s, linha %d (comando %d, campo %d): esperava %s, "
               "recebeu %s\n",
               scenario_.name.c_str(), step.line, step.command.code, step.command.field,
               expected.c_str(), got.c_str());
}

// Only transactions are remembered: a reprint or a communication test settles nothing.
bool ScenarioPlayer::recordApproval() {
  if (start_.function >= 110 && start_.function <= 114) return true;
  Event event("APPROVED");
  event.set("doc", start_.document)
      .set("date", start_.date)
      .set("function", std::to_string(start_.function))
      .set("value", formatCents(start_.cents))
      .set("nsu", host_.nextNsu())
      .set("scenario", scenario_.name)
      .set("at", hostDateTime(Clock::now()));
  return ledger_.append(event);
}

void reportBadScenario(const Ledger& ledger, const std::string& name, const ScenarioError& error) {
  Event event("BADSCENARIO");
  event.set("scenario", name)
      .set("line", std::to_string(error.line()))
      .set("reason", error.what())
      .set("at", hostDateTime(Clock::now()));
  ledger.append(event);
  std::fprintf(stderr, "Simulador CliSiTef: cenário %s recusado, linha %d: %s\n", name.c_str(),
               error.line(), error.what());
}

}  // namespace kelvora::sim
