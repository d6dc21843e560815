#include "refhost/core/program_run.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "refhost/core/gcode_error.h"

namespace refhost {

namespace {

constexpr std::uint32_t kDerived = 0x80000000u;  // index_: a line that never ran

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool Close(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

}  // namespace

bool NeedsControlFlow(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto skip = [&] {
    while (i < n && IsBlank(text[i])) ++i;
  };
  skip();
  if (i < n && text[i] == '/') ++i;
  skip();
  if (i < n && (text[i] == 'n' || text[i] == 'N')) {
    ++i;
    while (i < n && (IsDigit(text[i]) || text[i] == '.' || IsBlank(text[i]))) ++i;
  }
  if (i < n && (text[i] == 'o' || text[i] == 'O')) return true;
  // M98 / M99 anywhere (blanks and leading zeros mean nothing).
  for (std::size_t m = i; m < n; ++m) {
    if (text[m] != 'm' && text[m] != 'M') continue;
    std::size_t p = m + 1;
    while (p < n && (IsBlank(text[p]) || text[p] == '0')) ++p;
    if (p >= n || text[p] != '9') continue;
    ++p;
    while (p < n && IsBlank(text[p])) ++p;
    if (p >= n || (text[p] != '8' && text[p] != '9')) continue;
    ++p;
    while (p < n && IsBlank(text[p])) ++p;
    if (p >= n || !(IsDigit(text[p]) || text[p] == '.')) return true;
  }
  return false;
}

bool NeedsControlFlow(std::int64_t count, const std::function<std::string_view(std::int64_t)>& text) {
  for (std::int64_t line = 1; line <= count; ++line) {
    if (NeedsControlFlow(text(line))) return true;
  }
  return false;
}

// The control flow of one run.
class Executor {
 public:
  Executor(ProgramRun& run, std::int64_t count, const ProgramRun::TextSource& text,
           const MotionSink& sink)
      : run_(run), count_(count), text_(text), outer_(sink) {
    sink_.put = &Executor::Count;
    sink_.context = this;
  }

  void Run() {
    try {
      Index();
      Loop();
    } catch (const GcodeError& e) {
      if (run_.error_line_ == 0) {
        run_.error_line_ = at_ > 0 ? at_ : 1;
        run_.error_ = std::make_shared<const std::string>(e.what());
      }
    }
  }

 private:
  // One O-word line of the program.
  struct OLine {
    std::int64_t line;
    OKind kind;
    std::string label;
    std::int64_t scope;   // the line of the enclosing "sub", 0 outside any
    std::int64_t partner = 0;  // sub: its endsub; do: its while; while (of a do): its do; while: its endwhile;
                               // endwhile: its while; repeat: its endrepeat; endrepeat: its repeat
  };
  enum class FrameKind { kMain, kSub, kProgram };
  struct Frame {
    FrameKind kind = FrameKind::kMain;
    std::int64_t return_line = 0;
    std::int64_t scope = 0;      // kSub: the sub's line
    std::string label;
    std::int64_t body = 0;       // kProgram: the first line of the subprogram
    int repeats_left = 0;        // kProgram: further runs (M98 L)
    std::map<std::int64_t, std::int64_t> repeats;  // repeat line -> runs left
  };

  static void Count(void* context, const Motion& m) {
    auto* self = static_cast<Executor*>(context);
    if (++self->run_.motions_ > self->run_.limits_.moves) {
      throw GcodeError("the program makes more than " + std::to_string(self->run_.limits_.moves) +
                       " moves (does it loop forever?)");
    }
    if (self->outer_) self->outer_(m);
  }

  std::string_view Text(std::int64_t line) const { return text_(line); }

  // Finds and pairs every O-word line.
  void Index() {
    std::int64_t scope = 0;
    std::string scope_label;
    for (std::int64_t line = 1; line <= count_; ++line) {
      std::string_view text = Text(line);
      if (!NeedsControlFlow(text)) continue;
      ReadBlock(text, parsed_);
      if (!parsed_.has_o || !parsed_.error.empty()) continue;  // an error shows when it runs
      OLine o{line, parsed_.o.kind, parsed_.o.label, scope};
      if (parsed_.o.indirect && o.kind != OKind::kCall) {
        at_ = line;
        throw GcodeError("an indirect O-word label works only with call");
      }
      if (o.kind == OKind::kSub) {
        if (scope != 0) {
          at_ = line;
          throw GcodeError("o" + o.label + " sub inside o" + scope_label + " sub (subroutines do not nest)");
        }
        scope = line;
        scope_label = o.label;
        o.scope = line;
      } else if (o.kind == OKind::kEndsub && scope != 0 && o.label == scope_label) {
        o.scope = scope;
        scope = 0;
      }
      olines_.push_back(std::move(o));
    }
    // Pair the constructs of each label within its scope, in order.
    std::map<std::pair<std::int64_t, std::string>, std::vector<std::size_t>> open;
    for (std::size_t i = 0; i < olines_.size(); ++i) {
      OLine& o = olines_[i];
      auto key = std::make_pair(o.scope, o.label);
      auto& stack = open[key];
      auto pair_with = [&](std::initializer_list<OKind> kinds) -> OLine* {
        for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
          for (OKind k : kinds) {
            if (olines_[*it].kind == k && olines_[*it].partner == 0) return &olines_[*it];
          }
        }
        return nullptr;
      };
      switch (o.kind) {
        case OKind::kSub: case OKind::kDo: case OKind::kRepeat: stack.push_back(i); break;
        case OKind::kEndsub:
          if (OLine* sub = pair_with({OKind::kSub})) sub->partner = o.line, o.partner = sub->line;
          break;
        case OKind::kWhile:
          if (OLine* d = pair_with({OKind::kDo})) {
            d->partner = o.line;
            o.partner = -d->line;  // negative: closes a do
          } else {
            stack.push_back(i);
          }
          break;
        case OKind::kEndwhile:
          if (OLine* w = pair_with({OKind::kWhile})) w->partner = o.line, o.partner = w->line;
          break;
        case OKind::kEndrepeat:
          if (OLine* r = pair_with({OKind::kRepeat})) r->partner = o.line, o.partner = r->line;
          break;
        default: break;
      }
    }
    for (const OLine& o : olines_) {
      if (o.kind == OKind::kProgram) programs_.emplace(o.label, o.line);
    }
  }

  const OLine* OAt(std::int64_t line) const {
    auto it = std::lower_bound(olines_.begin(), olines_.end(), line,
                               [](const OLine& o, std::int64_t l) { return o.line < l; });
    return it != olines_.end() && it->line == line ? &*it : nullptr;
  }

  // The next O-line after `from` with this scope and label whose kind is one of `kinds`.
  const OLine* Next(const OLine& from, std::initializer_list<OKind> kinds) const {
    for (std::size_t i = static_cast<std::size_t>(&from - olines_.data()) + 1; i < olines_.size(); ++i) {
      const OLine& o = olines_[i];
      if (o.scope != from.scope || o.label != from.label) continue;
      for (OKind k : kinds) {
        if (o.kind == k) return &o;
      }
    }
    return nullptr;
  }

  double Condition(std::int64_t line) {
    ReadBlock(Text(line), parsed_);
    if (!parsed_.error.empty()) throw GcodeError(parsed_.error);
    if (parsed_.o.args.empty()) return 0.0;
    return Value(parsed_.o.args[0]);
  }

  double Value(const refhost::Value& v) {
    return Evaluate(v, parsed_.code, parsed_.names, StateParameters(state_, at_));
  }

  void Loop() {
    std::int64_t pc = 1;
    frames_.push_back(Frame{});
    for (;;) {
      if (pc > count_) {
        if (frames_.back().kind == FrameKind::kSub) {
          at_ = frames_.back().scope;
          throw GcodeError("subroutine o" + frames_.back().label + " has no endsub");
        }
        if (frames_.back().kind == FrameKind::kProgram) {
          at_ = frames_.back().body - 1;
          throw GcodeError("subprogram O" + frames_.back().label + " has no M99");
        }
        return;
      }
      at_ = pc;
      if (++run_.executed_ > run_.limits_.lines) {
        throw GcodeError("the program runs more than " + std::to_string(run_.limits_.lines) +
                         " lines (does it loop forever?)");
      }
      if (const OLine* o = OAt(pc)) {
        pc = Flow(*o);
        if (pc <= 0) return;  // the end
        continue;
      }
      std::string_view text = Text(pc);
      ReadBlock(text, parsed_);
      block_.line = pc;
      if (parsed_.percent) {
        if (!state_.began) {
          state_.began = true;
        } else {
          run_.end_line_ = pc;
          return;  // the closing "%": nothing after it runs
        }
        ++pc;
        continue;
      }
      if (!parsed_.error.empty()) throw GcodeError(parsed_.error);
      if (parsed_.block_delete) {
        ++pc;
        continue;
      }
      if (!parsed_.words.empty() || !parsed_.settings.empty()) state_.began = true;
      if (parsed_.has_o) throw GcodeError("an O-word line the program index missed");
      BlockFlow flow = ExecuteBlock(parsed_, state_, block_, sink_);
      run_.Record(pc, block_);
      switch (flow.kind) {
        case BlockFlow::Kind::kNext: ++pc; break;
        case BlockFlow::Kind::kEnd: run_.end_line_ = pc; return;
        case BlockFlow::Kind::kCallProgram: pc = CallProgram(pc, flow); break;
        case BlockFlow::Kind::kReturnProgram: pc = ReturnProgram(); break;
      }
    }
  }

  // Records an O-word line as a run without a move.
  void RecordO(std::int64_t line) {
    Block b;
    b.line = line;
    ReportState(state_, b);
    run_.Record(line, b);
  }

  // Runs the O-word line `o`; returns the next line, 0 at the program's end.
  std::int64_t Flow(const OLine& o) {
    state_.began = true;
    const std::int64_t line = o.line;
    RecordO(line);
    Frame& frame = frames_.back();
    switch (o.kind) {
      case OKind::kSub:
        if (o.partner == 0) throw GcodeError("o" + o.label + " sub has no endsub");
        defined_.emplace(o.label, line);
        return o.partner + 1;
      case OKind::kEndsub: case OKind::kReturn: {
        if (frame.kind != FrameKind::kSub) {
          throw GcodeError(std::string("o") + o.label + " " + OKeyword(o.kind) + " outside a subroutine");
        }
        if (o.label != frame.label) {
          throw GcodeError("o" + o.label + " " + OKeyword(o.kind) + " inside subroutine o" + frame.label);
        }
        ReadBlock(Text(line), parsed_);
        const bool has_value = !parsed_.o.args.empty();
        const double value = has_value ? Value(parsed_.o.args[0]) : 0.0;
        const std::int64_t back = frame.return_line;
        frames_.pop_back();
        state_.params.PopFrame();
        state_.params.SetNamed("_value", value);
        state_.params.SetNamed("_value_returned", has_value ? 1.0 : 0.0);
        return back;
      }
      case OKind::kCall: {
        ReadBlock(Text(line), parsed_);
        std::string label = parsed_.o.label;
        if (parsed_.o.indirect) {
          const double v = Value(parsed_.o.label_value);
          if (v != std::floor(v) || v < 0) throw GcodeError("an O-word number must be whole");
          label = std::to_string(static_cast<std::int64_t>(v));
        }
        auto def = defined_.find(label);
        if (def == defined_.end()) {
          for (const OLine& s : olines_) {
            if (s.kind == OKind::kSub && s.label == label) {
              throw GcodeError("o" + label + " is called before its definition (line " +
                               std::to_string(s.line) + ")");
            }
          }
          throw GcodeError("no subroutine o" + label + " in this program");
        }
        double args[Parameters::kLocalCount];
        std::size_t n = std::min<std::size_t>(parsed_.o.args.size(), Parameters::kLocalCount);
        for (std::size_t i = 0; i < n; ++i) args[i] = Value(parsed_.o.args[i]);
        state_.params.SetNamed("_value", 0.0);
        state_.params.SetNamed("_value_returned", 0.0);
        state_.params.PushFrame(args, n);
        Frame callee;
        callee.kind = FrameKind::kSub;
        callee.return_line = line + 1;
        callee.scope = def->second;
        callee.label = label;
        frames_.push_back(std::move(callee));
        return def->second + 1;
      }
      case OKind::kIf: {
        if (!Next(o, {OKind::kEndif})) throw GcodeError("o" + o.label + " if has no endif");
        if (Condition(line) != 0) return line + 1;
        for (const OLine* next = Next(o, {OKind::kElseif, OKind::kElse, OKind::kEndif}); next;
             next = Next(*next, {OKind::kElseif, OKind::kElse, OKind::kEndif})) {
          if (next->kind == OKind::kEndif) return next->line + 1;
          if (next->kind == OKind::kElse) return next->line + 1;
          at_ = next->line;
          if (Condition(next->line) != 0) return next->line + 1;
        }
        throw GcodeError("o" + o.label + " if has no endif");
      }
      case OKind::kElseif: case OKind::kElse: {
        // The branch before it ran: on past the endif.
        const OLine* end = Next(o, {OKind::kEndif});
        if (!end) throw GcodeError("o" + o.label + " " + OKeyword(o.kind) + " has no endif");
        return end->line + 1;
      }
      case OKind::kEndif: case OKind::kDo: case OKind::kProgram: return line + 1;
      case OKind::kWhile:
        if (o.partner < 0) return Condition(line) != 0 ? -o.partner + 1 : line + 1;  // do ... while
        if (o.partner == 0) throw GcodeError("o" + o.label + " while has no endwhile");
        return Condition(line) != 0 ? line + 1 : o.partner + 1;
      case OKind::kEndwhile:
        if (o.partner == 0) throw GcodeError("o" + o.label + " endwhile without its while");
        return o.partner;
      case OKind::kRepeat: {
        if (o.partner == 0) throw GcodeError("o" + o.label + " repeat has no endrepeat");
        const double times = Condition(line);
        const std::int64_t left = static_cast<std::int64_t>(std::floor(times));
        if (left <= 0) return o.partner + 1;
        frame.repeats[line] = left - 1;
        return line + 1;
      }
      case OKind::kEndrepeat: {
        if (o.partner == 0) throw GcodeError("o" + o.label + " endrepeat without its repeat");
        auto it = frame.repeats.find(o.partner);
        if (it != frame.repeats.end() && it->second > 0) {
          --it->second;
          return o.partner + 1;
        }
        if (it != frame.repeats.end()) frame.repeats.erase(it);
        return line + 1;
      }
      case OKind::kBreak: case OKind::kContinue: {
        const OLine* loop = Loop(o);
        if (!loop) {
          throw GcodeError(std::string("o") + o.label + " " + OKeyword(o.kind) + " outside a loop of that label");
        }
        const bool brk = o.kind == OKind::kBreak;
        switch (loop->kind) {
          case OKind::kWhile: return brk ? loop->partner + 1 : loop->line;
          case OKind::kDo: return brk ? loop->partner + 1 : loop->partner;
          default:  // repeat
            if (brk) {
              frame.repeats.erase(loop->line);
              return loop->partner + 1;
            }
            return loop->partner;
        }
      }
      case OKind::kNone: break;
    }
    return line + 1;
  }

  // The loop (while, do or repeat) of the label that `o` stands in.
  const OLine* Loop(const OLine& o) const {
    const OLine* found = nullptr;
    for (const OLine& l : olines_) {
      if (l.line >= o.line) break;
      if (l.scope != o.scope || l.label != o.label) continue;
      if ((l.kind == OKind::kWhile && l.partner > o.line) || (l.kind == OKind::kDo && l.partner > o.line) ||
          (l.kind == OKind::kRepeat && l.partner > o.line)) {
        found = &l;
      }
    }
    return found;
  }

  std::int64_t CallProgram(std::int64_t line, const BlockFlow& flow) {
    const std::string label = std::to_string(flow.program);
    auto it = programs_.find(label);
    if (it == programs_.end()) throw GcodeError("no subprogram O" + label + " in this program");
    if (it->second < line) {
      throw GcodeError("subprogram O" + label + " stands before its M98 call (it must follow it)");
    }
    if (flow.repeat == 0) return line + 1;
    Frame callee;
    callee.kind = FrameKind::kProgram;
    callee.return_line = line + 1;
    callee.label = label;
    callee.body = it->second + 1;
    callee.repeats_left = flow.repeat - 1;
    if (frames_.size() > static_cast<std::size_t>(Parameters::kMaxCallDepth)) {
      throw GcodeError("subprogram calls nest deeper than " + std::to_string(Parameters::kMaxCallDepth));
    }
    frames_.push_back(std::move(callee));
    return it->second + 1;
  }

  std::int64_t ReturnProgram() {
    Frame& frame = frames_.back();
    if (frame.kind == FrameKind::kMain) return 1;  // M99 in the main program starts it again
    if (frame.kind == FrameKind::kSub) throw GcodeError("M99 inside subroutine o" + frame.label);
    if (frame.repeats_left > 0) {
      --frame.repeats_left;
      return frame.body;
    }
    const std::int64_t back = frame.return_line;
    frames_.pop_back();
    return back;
  }

  ProgramRun& run_;
  std::int64_t count_;
  const ProgramRun::TextSource& text_;
  const MotionSink& outer_;
  MotionSink sink_;
  ModalState state_;
  ParsedBlock parsed_;
  Block block_;
  std::int64_t at_ = 0;  // the line running
  std::vector<OLine> olines_;
  std::map<std::string, std::int64_t> defined_;   // sub label -> its line, once the flow passed it
  std::map<std::string, std::int64_t> programs_;  // O number -> its line
  std::vector<Frame> frames_;
};

// ---- ProgramRun ----

ProgramRun::Summary ProgramRun::From(const Block& b) {
  Summary s{};
  for (int i = 0; i < 3; ++i) {
    s.start[i] = b.start[i];
    s.end[i] = b.end[i];
    s.centre[i] = b.centre[i];
  }
  s.feed = b.feed;
  s.radius = b.radius;
  s.n = b.n;
  s.motion10 = static_cast<std::int16_t>(b.motion10);
  s.plane = static_cast<std::uint8_t>(b.plane);
  s.units = static_cast<std::uint8_t>(b.units);
  s.feed_mode_less_93 = static_cast<std::uint8_t>(b.feed_mode - 93);
  s.moves = b.moves;
  s.incremental = b.incremental;
  s.consistent = true;
  s.feeds_differ = false;
  s.runs = 1;
  return s;
}

void ProgramRun::Record(std::int64_t line, const Block& b) {
  if (!limits_.per_line) return;
  std::uint32_t& at = index_[static_cast<std::size_t>(line)];
  if (at == 0) {
    summaries_.push_back(From(b));
    at = static_cast<std::uint32_t>(summaries_.size());
    return;
  }
  Summary& s = summaries_[at - 1];
  if (s.runs < UINT32_MAX) ++s.runs;
  if (b.feed != s.feed) s.feeds_differ = true;
  if (!s.consistent) return;
  bool same = b.moves == s.moves && b.motion10 == s.motion10 && b.feed == s.feed &&
              Close(b.radius, s.radius);
  for (int i = 0; same && i < 3; ++i) {
    same = Close(b.end[i] - b.start[i], s.end[i] - s.start[i]) &&
           (s.radius == 0 || Close(b.centre[i] - b.start[i], s.centre[i] - s.start[i]));
  }
  s.consistent = same;
}

void ProgramRun::Finish() {
  // A line that never ran takes the state of the nearest line before it that ran.
  std::uint32_t last = 0;
  for (std::size_t line = 1; line < index_.size(); ++line) {
    if (index_[line] == 0) {
      index_[line] = last ? (kDerived | last) : 0;
    } else {
      last = index_[line];
    }
  }
}

void ProgramRun::Run(std::int64_t count, const TextSource& text, const MotionSink& sink) {
  Run(count, text, sink, Limits{});
}

void ProgramRun::Run(std::int64_t count, const TextSource& text, const MotionSink& sink,
                     Limits limits) {
  limits_ = limits;
  count_ = count;
  index_.assign(limits.per_line ? static_cast<std::size_t>(count) + 1 : 0, 0);
  summaries_.clear();
  error_line_ = end_line_ = 0;
  error_.reset();
  motions_ = executed_ = 0;
  Executor(*this, count, text, sink).Run();
  Finish();
}

void ProgramRun::BlockOf(std::int64_t line, Block& out) const {
  out = Block{};
  out.line = line;
  if (error_line_ != 0 && line >= error_line_) {
    out.error = error_;
    out.error_line = error_line_;
  }
  const std::uint32_t at = line >= 1 && line < static_cast<std::int64_t>(index_.size())
                               ? index_[static_cast<std::size_t>(line)]
                               : 0;
  if (at == 0) {
    out.skipped = true;  // before any line ran: the state at the start
    return;
  }
  const Summary& s = summaries_[(at & ~kDerived) - 1];
  out.motion10 = s.motion10;
  out.motion = s.motion10 < 0 ? -1 : s.motion10 / 10;
  out.plane = s.plane;
  out.units = s.units;
  out.feed_mode = s.feed_mode_less_93 + 93;
  out.incremental = s.incremental;
  out.feed = s.feed;
  const bool own = (at & kDerived) == 0;
  const bool reported = own && s.moves && s.consistent;
  for (int i = 0; i < 3; ++i) {
    out.end[i] = s.end[i];
    out.start[i] = reported ? s.start[i] : s.end[i];
    out.centre[i] = reported ? s.centre[i] : 0.0;
  }
  out.radius = reported ? s.radius : 0.0;
  out.moves = reported;
  out.skipped = !own;
  out.after_end = !own && end_line_ != 0 && line > end_line_;
  if (own) out.n = s.n;
}

std::uint32_t ProgramRun::Runs(std::int64_t line) const {
  if (line < 1 || line >= static_cast<std::int64_t>(index_.size())) return 0;
  const std::uint32_t at = index_[static_cast<std::size_t>(line)];
  return at == 0 || (at & kDerived) ? 0 : summaries_[at - 1].runs;
}

bool ProgramRun::FeedsDiffer(std::int64_t line) const {
  if (line < 1 || line >= static_cast<std::int64_t>(index_.size())) return false;
  const std::uint32_t at = index_[static_cast<std::size_t>(line)];
  return at != 0 && !(at & kDerived) && summaries_[at - 1].feeds_differ;
}

const std::string& ProgramRun::Error() const {
  static const std::string kNone;
  return error_ ? *error_ : kNone;
}

std::size_t ProgramRun::MemoryBytes() const {
  return index_.capacity() * sizeof(std::uint32_t) + summaries_.capacity() * sizeof(Summary);
}

}  // namespace refhost
