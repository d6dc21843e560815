#include "refhost/core/document.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace refhost {

namespace {

void CheckLine(std::int64_t line, std::int64_t limit, const char* what) {
  if (line < 1 || line > limit) {
    throw std::out_of_range(std::string(what) + ": line " + std::to_string(line) +
                            " is outside 1.." + std::to_string(limit));
  }
}

// Splits at every LF, CR LF or CR: "a\nb" is two lines, "a\n" too.
std::vector<std::string> SplitAtBreaks(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\n' && c != '\r') continue;
    parts.push_back(text.substr(begin, i - begin));
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    begin = i + 1;
  }
  parts.push_back(text.substr(begin));
  return parts;
}

bool HasBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

Document::Document() { Load(std::string()); }

void Document::Load(std::string text) {
  buffer_ = std::move(text);
  arena_.clear();
  big_.clear();
  lines_.clear();
  const char* data = buffer_.data();
  const std::size_t size = buffer_.size();
  std::size_t begin = 0;
  if (size == 0 || !std::memchr(data, '\r', size)) {
    // LF only: the library's scans are the fast path for large files.
    lines_.reserve(static_cast<std::size_t>(std::count(data, data + size, '\n')) + 1);
    while (begin < size) {
      const void* found = std::memchr(data + begin, '\n', size - begin);
      if (!found) break;
      std::size_t at = static_cast<std::size_t>(static_cast<const char*>(found) - data);
      AddLoaded(begin, at);
      begin = at + 1;
    }
  } else {
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < size; ++i) breaks += (data[i] == '\n') | (data[i] == '\r');
    lines_.reserve(breaks + 1);
    for (std::size_t i = 0; i < size; ++i) {
      char c = data[i];
      if (c != '\n' && c != '\r') continue;
      AddLoaded(begin, i);
      if (c == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
      begin = i + 1;
    }
  }
  if (begin < size || lines_.empty()) {
    AddLoaded(begin, size);
  }
  mark_count_ = 0;
  undo_.clear();
  redo_.clear();
  current_ = Group{};
  group_open_ = false;
  implicit_depth_ = 0;
  saved_id_ = 0;
  ++revision_;
  first_changed_ = 1;
  history_.clear();
  history_.push_back(Change{revision_, 1});
  Notify();
}

void Document::AddLoaded(std::size_t begin, std::size_t end) {
  // A line longer than a 32-bit length can say goes to the pool.
  if (end - begin > UINT32_MAX) {
    lines_.push_back(Pool(std::string_view(buffer_).substr(begin, end - begin)));
  } else {
    lines_.push_back(LineRef{begin, static_cast<std::uint32_t>(end - begin), false, false});
  }
}

std::string Document::Text(std::string_view eol) const {
  std::size_t total = 0;
  for (std::int64_t i = 1; i <= LineCount(); ++i) total += Line(i).size() + eol.size();
  std::string out;
  out.reserve(total);
  for (std::int64_t i = 1; i <= LineCount(); ++i) {
    out += Line(i);
    out += eol;
  }
  return out;
}

std::string_view Document::Line(std::int64_t line) const {
  CheckLine(line, LineCount(), "Line");
  const LineRef& ref = lines_[static_cast<std::size_t>(line - 1)];
  if (ref.big) return big_[static_cast<std::size_t>(ref.pos)];
  if (ref.pooled) {
    return std::string_view(arena_[static_cast<std::size_t>(ref.pos >> 32)].data() + (ref.pos & 0xffffffffu), ref.len);
  }
  return std::string_view(buffer_.data() + ref.pos, ref.len);
}

Document::LineRef Document::Pool(std::string_view text) {
  if (text.size() >= UINT32_MAX) {
    big_.emplace_back(text);
    return LineRef{big_.size() - 1, 0, true, false, true};
  }
  constexpr std::size_t kBlock = std::size_t(1) << 20;
  if (arena_.empty() || arena_.back().capacity() - arena_.back().size() < text.size()) {
    std::string block;
    block.reserve(std::max(kBlock, text.size()));
    arena_.push_back(std::move(block));
  }
  std::string& block = arena_.back();
  const std::uint64_t pos = (std::uint64_t(arena_.size() - 1) << 32) | block.size();
  block.append(text);  // within the capacity: the block does not move
  return LineRef{pos, static_cast<std::uint32_t>(text.size()), true, false, false};
}

namespace {

void PutVarint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
}

std::uint64_t GetVarint(const std::string& in, std::size_t& at) {
  std::uint64_t v = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(in[at++]);
    v |= std::uint64_t(byte & 0x7f) << shift;
    if (!(byte & 0x80)) return v;
  }
}

}  // namespace

std::vector<Document::Op> Document::Decode(const Group& group) {
  std::vector<Op> ops;
  const std::string& in = group.ops;
  auto getRef = [&](std::size_t& at) {
    LineRef r;
    const auto flags = static_cast<unsigned char>(in[at++]);
    r.pooled = flags & 1;
    r.big = flags & 2;
    r.pos = GetVarint(in, at);
    r.len = static_cast<std::uint32_t>(GetVarint(in, at));
    return r;
  };
  for (std::size_t at = 0; at < in.size();) {
    Op op;
    const auto head = static_cast<unsigned char>(in[at++]);
    op.kind = static_cast<Op::Kind>(head & 7);
    op.on = head & 8;
    op.line = static_cast<std::int64_t>(GetVarint(in, at));
    switch (op.kind) {
      case Op::kReplace:
        op.before = getRef(at);
        op.after = getRef(at);
        break;
      case Op::kInsert:
      case Op::kRemove:
        op.lines = group.lines[static_cast<std::size_t>(GetVarint(in, at))];
        break;
      case Op::kClearMarks:
        op.marks = group.marks[static_cast<std::size_t>(GetVarint(in, at))];
        break;
      case Op::kMark:
        break;
    }
    ops.push_back(std::move(op));
  }
  return ops;
}

void Document::OpenStep() {
  if (implicit_depth_++ == 0 && !group_open_ && current_.ops.empty()) {
    current_ = Group{};
    current_.id = next_group_id_++;
  }
}

void Document::CloseStep() {
  if (--implicit_depth_ > 0) return;
  if (!group_open_ && !current_.ops.empty()) {
    undo_.push_back(std::move(current_));
    current_ = Group{};
  }
  if (pending_first_ != kNoChange) {
    ++revision_;
    first_changed_ = pending_first_;
    history_.push_back(Change{revision_, pending_first_});
    if (history_.size() > kHistory) history_.pop_front();
    pending_first_ = kNoChange;
  }
  if (notify_pending_) Notify();
}

void Document::TextChanged(std::int64_t line) {
  pending_first_ = std::min(pending_first_, line);
  notify_pending_ = true;
}

void Document::Notify() {
  notify_pending_ = false;
  if (listener_) listener_();
}

void Document::Record(Op op) {
  Apply(op, true);
  if (op.kind != Op::kMark && op.kind != Op::kClearMarks) current_.text = true;
  std::string& out = current_.ops;
  out.push_back(static_cast<char>(op.kind | (op.on ? 8 : 0)));
  PutVarint(out, static_cast<std::uint64_t>(op.line));
  auto putRef = [&](const LineRef& r) {
    out.push_back(static_cast<char>((r.pooled ? 1 : 0) | (r.big ? 2 : 0)));
    PutVarint(out, r.pos);
    PutVarint(out, r.len);
  };
  switch (op.kind) {
    case Op::kReplace:
      putRef(op.before);
      putRef(op.after);
      break;
    case Op::kInsert:
    case Op::kRemove:
      PutVarint(out, current_.lines.size());
      current_.lines.push_back(std::move(op.lines));
      break;
    case Op::kClearMarks:
      PutVarint(out, current_.marks.size());
      current_.marks.push_back(std::move(op.marks));
      break;
    case Op::kMark:
      break;
  }
  redo_.clear();
}

void Document::Apply(const Op& op, bool forward) {
  auto at = [this](std::int64_t line) { return lines_.begin() + (line - 1); };
  switch (op.kind) {
    case Op::kReplace: {
      LineRef& ref = lines_[static_cast<std::size_t>(op.line - 1)];
      const LineRef& to = forward ? op.after : op.before;
      ref.pos = to.pos;
      ref.len = to.len;
      ref.pooled = to.pooled;
      ref.big = to.big;
      TextChanged(op.line);
      break;
    }
    case Op::kInsert:
    case Op::kRemove: {
      bool insert = (op.kind == Op::kInsert) == forward;
      std::int64_t marks = 0;
      for (const LineRef& ref : op.lines) marks += ref.marked;
      if (insert) {
        lines_.insert(at(op.line), op.lines.begin(), op.lines.end());
        mark_count_ += marks;
      } else {
        lines_.erase(at(op.line), at(op.line) + static_cast<std::ptrdiff_t>(op.lines.size()));
        mark_count_ -= marks;
      }
      TextChanged(op.line);
      break;
    }
    case Op::kMark: {
      bool on = forward ? op.on : !op.on;
      lines_[static_cast<std::size_t>(op.line - 1)].marked = on;
      mark_count_ += on ? 1 : -1;
      notify_pending_ = true;
      break;
    }
    case Op::kClearMarks:
      for (std::int64_t line : op.marks) lines_[static_cast<std::size_t>(line - 1)].marked = !forward;
      mark_count_ += forward ? -static_cast<std::int64_t>(op.marks.size())
                             : static_cast<std::int64_t>(op.marks.size());
      notify_pending_ = true;
      break;
  }
}

void Document::ReplaceLine(std::int64_t line, std::string text) {
  CheckLine(line, LineCount(), "ReplaceLine");
  if (HasBreak(text)) {
    std::vector<std::string> parts = SplitAtBreaks(text);
    OpenStep();
    ReplaceLine(line, std::move(parts.front()));
    InsertLines(line + 1, std::vector<std::string>(parts.begin() + 1, parts.end()));
    CloseStep();
    return;
  }
  OpenStep();
  Op op;
  op.kind = Op::kReplace;
  op.line = line;
  op.before = lines_[static_cast<std::size_t>(line - 1)];
  op.after = Pool(std::move(text));
  Record(std::move(op));
  CloseStep();
}

void Document::InsertLines(std::int64_t before, const std::vector<std::string>& lines) {
  CheckLine(before, LineCount() + 1, "InsertLines");
  if (lines.empty()) return;
  OpenStep();
  Op op;
  op.kind = Op::kInsert;
  op.line = before;
  op.lines.reserve(lines.size());
  for (const std::string& text : lines) {
    if (!HasBreak(text)) {
      op.lines.push_back(Pool(text));
      continue;
    }
    for (std::string& part : SplitAtBreaks(text)) op.lines.push_back(Pool(std::move(part)));
  }
  Record(std::move(op));
  CloseStep();
}

void Document::RemoveLines(std::int64_t first, std::int64_t count) {
  CheckLine(first, LineCount(), "RemoveLines");
  if (count < 0 || count > LineCount() - first + 1) {
    throw std::out_of_range("RemoveLines: " + std::to_string(count) + " lines from line " +
                            std::to_string(first) + " run past the end");
  }
  if (count == 0) return;
  OpenStep();
  Op op;
  op.kind = Op::kRemove;
  op.line = first;
  op.lines.assign(lines_.begin() + (first - 1), lines_.begin() + (first - 1 + count));
  Record(std::move(op));
  if (lines_.empty()) {
    Op empty;
    empty.kind = Op::kInsert;
    empty.line = 1;
    empty.lines.push_back(Pool(std::string()));
    Record(std::move(empty));
  }
  CloseStep();
}

void Document::BeginGroup() {
  if (group_open_) EndGroup();
  group_open_ = true;
  current_ = Group{};
  current_.id = next_group_id_++;
}

void Document::EndGroup() {
  if (!group_open_) return;
  group_open_ = false;
  if (!current_.ops.empty()) undo_.push_back(std::move(current_));
  current_ = Group{};
}

bool Document::CanUndo() const { return !undo_.empty() || !current_.ops.empty(); }
bool Document::CanRedo() const { return !redo_.empty(); }

void Document::Undo() {
  EndGroup();
  if (undo_.empty()) return;
  Group group = std::move(undo_.back());
  undo_.pop_back();
  ++implicit_depth_;
  const std::vector<Op> ops = Decode(group);
  for (auto it = ops.rbegin(); it != ops.rend(); ++it) Apply(*it, false);
  redo_.push_back(std::move(group));
  CloseStep();
}

void Document::Redo() {
  EndGroup();
  if (redo_.empty()) return;
  Group group = std::move(redo_.back());
  redo_.pop_back();
  ++implicit_depth_;
  for (const Op& op : Decode(group)) Apply(op, true);
  undo_.push_back(std::move(group));
  CloseStep();
}

void Document::SetMark(std::int64_t line, bool on) {
  if (line == 0 && !on) {
    if (mark_count_ == 0) return;
    OpenStep();
    Op op;
    op.kind = Op::kClearMarks;
    op.marks = MarkedLines();
    Record(std::move(op));
    CloseStep();
    return;
  }
  CheckLine(line, LineCount(), "SetMark");
  if (lines_[static_cast<std::size_t>(line - 1)].marked == on) return;
  OpenStep();
  Op op;
  op.kind = Op::kMark;
  op.line = line;
  op.on = on;
  Record(std::move(op));
  CloseStep();
}

bool Document::Marked(std::int64_t line) const {
  if (line < 1 || line > LineCount()) return false;
  return lines_[static_cast<std::size_t>(line - 1)].marked;
}

std::vector<std::int64_t> Document::MarkedLines() const {
  std::vector<std::int64_t> out;
  if (mark_count_ == 0) return out;
  out.reserve(static_cast<std::size_t>(mark_count_));
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].marked) out.push_back(static_cast<std::int64_t>(i) + 1);
  }
  return out;
}

std::uint64_t Document::TextStateId() const {
  if (current_.text) return current_.id;
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    if (it->text) return it->id;
  }
  return 0;
}

bool Document::Modified() const { return TextStateId() != saved_id_; }
void Document::SetSaved() { saved_id_ = TextStateId(); }

std::int64_t Document::FirstChangedLineSince(std::uint64_t revision) const {
  if (revision >= revision_) return kNoChange;
  if (history_.empty() || history_.front().revision > revision + 1) return 1;
  std::int64_t first = kNoChange;
  for (auto it = history_.rbegin(); it != history_.rend() && it->revision > revision; ++it) {
    first = std::min(first, it->first);
  }
  return first;
}

void Document::SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

}  // namespace refhost
