// The scripted dialogues of the simulated library, one state machine per started function.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Receipts.h"
#include "Results.h"
#include "Sale.h"

namespace kelvora::sim {

// What the caller passed as the continue flag of its last call.
enum class Reply { Continue, Back, Abort };

// One command handed out: its code, the field it concerns (-1 for none), the length limits of
// an answer and the data (UTF-8 here; the library converts it when it hands it out).
struct Command {
  int code = 0;
  int field = -1;
  short minLength = 0;
  short maxLength = 0;
  std::string data;
};

// What one call of the dialogue gives back: a pending command (status 10000) or the final status;
// a final status may carry data too (the card identification a track-3 reading ends with).
struct Step {
  int status = kCommandPending;
  Command command;
  // Set on a final step when the authorizer decided: the transaction approved (status 0) or
  // refused (any other status), for the server to record.
  std::optional<Sale> decided;
};

// What a dialogue needs from the simulated server.
class Host {
 public:
  virtual ~Host() = default;
  // A new NSU, never handed out before by this server.
  virtual std::string nextNsu() = 0;
  // The last transaction whose receipts may be reprinted, if any.
  virtual std::optional<Sale> lastSale() = 0;
};

// The functions a dialogue can run: the SiTef function codes the library accepts, and the
// track-3 reading that LeTrilha3 starts.
enum class Function {
  Payment,         // 0: the customer picks debit, credit or Pix
  Debit,           // 2
  Credit,          // 3
  Administrative,  // 110
  CommTest,        // 111
  Reprint,         // 112 to 114
  Cancellation,    // 200
  Track3,
};

// The function run by a SiTef function code, if the library knows it.
std::optional<Function> functionFor(int code);

struct DialogSettings {
  Function function = Function::Payment;
  std::int64_t cents = 0;  // amount given when the dialogue started
  Terminal terminal;
  int cardPolls = 3;
  int pixPolls = 3;
  bool typedCard = false;  // the card is typed at fields 512, 513 and 514 instead of read
};

class Dialog {
 public:
  Dialog(const DialogSettings& settings, Host& host);

  // Takes the caller's reply to the last command (`answer` is its buffer text) and gives the next
  // step. After a final step the dialogue is over and must not be called again.
  Step next(Reply reply, std::string_view answer);

  // Whether the authorizer has approved, and the NSU it decided under; set before the caller is
  // given the final status, so a dialogue abandoned in between can say what it left behind.
  bool approvedByHost() const { return approved_; }
  std::string decidedNsu() const { return decided_ ? decided_->nsu : std::string(); }

 private:
  // The questions a dialogue asks; the answer to the one last handed out comes with the next call.
  enum class Prompt {
    None,
    Method,
    CreditPlan,
    Instalments,
    Administrative,
    CancelDate,
    CancelNsu,
    CancelAmount,
    CardNumber,
    CardExpiry,
    CardSecurityCode
  };

  // One entry of the script still to run: a command to hand out (possibly a prompt), an action
  // that extends the script when it is reached, or the final status.
  struct Item {
    enum class Kind { Command, Action, Final } kind = Kind::Command;
    Command command;
    Prompt prompt = Prompt::None;
    void (Dialog::*action)() = nullptr;
    int status = 0;
  };

  void say(int code, std::string text);
  void result(int field, std::string value);
  void question(Prompt prompt, Command command);
  void then(void (Dialog::*action)());
  void finish(int status, std::string data = {});
  void ask(Prompt prompt);
  void answer(Prompt prompt, std::string_view text);
  void goBack(Prompt current);
  Step advance();

  void awaitCard();
  void awaitPix();
  void authorise();
  void reportApproval();
  void reprint();

  DialogSettings settings_;
  Host& host_;
  std::deque<Item> script_;
  Prompt awaited_ = Prompt::None;
  std::vector<Prompt> answered_;  // prompts answered so far, for going back
  Sale sale_;
  std::optional<Sale> decided_;
  bool approved_ = false;
};

}  // namespace kelvora::sim
