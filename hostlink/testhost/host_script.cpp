#include "hostlink/testhost/host_script.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace testhost {
namespace {

bool ToDouble(const std::string& s, double* out) {
  char* end = nullptr;
  *out = std::strtod(s.c_str(), &end);
  return !s.empty() && end && *end == '\0';
}

bool ToInt(const std::string& s, std::int64_t* out) {
  char* end = nullptr;
  *out = std::strtoll(s.c_str(), &end, 10);
  return !s.empty() && end && *end == '\0';
}

// "member[:index][@nth]"
bool ParseTarget(const std::string& text, Rule* rule) {
  std::string rest = text;
  std::size_t at = rest.find('@');
  if (at != std::string::npos) {
    std::int64_t n = 0;
    if (!ToInt(rest.substr(at + 1), &n) || n < 1) return false;
    rule->nth = n;
    rest.resize(at);
  }
  std::size_t colon = rest.find(':');
  if (colon != std::string::npos) {
    std::int64_t i = 0;
    if (!ToInt(rest.substr(colon + 1), &i)) return false;
    rule->index = static_cast<std::int32_t>(i);
    rest.resize(colon);
  }
  rule->member = rest;
  return !rest.empty();
}

// The rest of `line` after `words` blank-separated words and one blank.
std::string RestAfter(const std::string& line, int words) {
  std::size_t at = 0;
  for (int w = 0; w < words; ++w) {
    while (at < line.size() && line[at] == ' ') ++at;
    while (at < line.size() && line[at] != ' ') ++at;
  }
  if (at < line.size()) ++at;
  return line.substr(std::min(at, line.size()));
}

}  // namespace

std::int32_t HostScript::StartSelection() const {
  return selectionStart.value_or(lines.empty() ? 0 : 1);
}

std::int32_t HostScript::EndSelection() const {
  return selectionEnd.value_or(static_cast<std::int32_t>(lines.size()));
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    if (c == 't') out.push_back('\t');
    else if (c == 'n') out.push_back('\n');
    else if (c == 'r') out.push_back('\r');
    else if (c == 'x' && i + 2 < text.size()) {
      out.push_back(static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
      i += 2;
    } else out.push_back(c);
  }
  return out;
}

void AddDiagonals(HostScript* script, std::int64_t count, double length, double feed) {
  const double d = length / std::sqrt(2.0);
  double x = 0, y = 0;
  if (!script->lines.empty()) {
    x = script->lines.back().p2[0];
    y = script->lines.back().p2[1];
  }
  for (std::int64_t k = 0; k < count; ++k) {
    Line l;
    l.motion = 1;
    l.p1[0] = x;
    l.p1[1] = y;
    // Zig-zag so the program stays near the origin.
    x += d;
    y += (k % 2 == 0) ? d : -d;
    l.p2[0] = x;
    l.p2[1] = y;
    l.feed = feed;
    script->lines.push_back(l);
  }
}

void AddDemo(HostScript* script) {
  static const char* const kDemo[] = {
      "line 0 0 0 5 10 10 5 0",          // rapid to the start
      "line 1 10 10 5 10 10 -1 150",     // plunge
      "line 1 10 10 -1 10.3 10.3 -1 600",
      "line 1 10.3 10.3 -1 10.6 10 -1 600",
      "line 1 10.6 10 -1 10.9 10.3 -1 600",
      "line 2 10.9 10.3 -1 11.5 10.3 -1 600 0.3",
      "line 1 11.5 10.3 -1 51.5 10.3 -1 600",   // long move
      "line 1 51.5 10.3 -1 51.8 10.6 -1 600",
      "line 3 51.8 10.6 -1 52.4 10.6 -1 600 0.3",
      "line 1 52.4 10.6 -1 52.7 10.3 -1 600",
      "line 1 52.7 10.3 -1 53 10.6 -1 600",
      "line 1 53 10.6 -1 53 50.6 -1 600",       // long move
      "line 2 53 50.6 -1 53.8 50.6 -1 600 0.4",
      "line 1 53.8 50.6 -1 54.1 50.9 -1 450",
      "line 1 54.1 50.9 -1 54.4 50.6 -1 450",
      "line 3 54.4 50.6 -1 55.4 50.6 -1 450 5",  // large arc
      "line 1 55.4 50.6 -1 55.7 50.9 -1 450",
      "line 1 55.7 50.9 -1 95.7 50.9 -1 450",   // long move
      "line 1 95.7 50.9 -1 96 51.2 -1 450",
      "line 0 96 51.2 -1 96 51.2 5 450",        // retract
  };
  for (const char* d : kDemo) ApplyDirective(d, script);
  script->systemType = 0;
}

std::string ApplyDirective(const std::string& raw, HostScript* script) {
  std::string line = raw;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string word; in >> word;) w.push_back(word);
  if (w.empty() || w[0][0] == '#') return "";
  const std::string& op = w[0];
  std::int64_t n = 0, m = 0;

  if (op == "system" && w.size() == 2 && ToInt(w[1], &n)) {
    script->systemType = static_cast<std::int32_t>(n);
  } else if (op == "selection" && w.size() == 3 && ToInt(w[1], &n) && ToInt(w[2], &m)) {
    script->selectionStart = static_cast<std::int32_t>(n);
    script->selectionEnd = static_cast<std::int32_t>(m);
  } else if (op == "line" && (w.size() == 9 || w.size() == 10)) {
    double v[9] = {};
    for (std::size_t i = 1; i < w.size(); ++i) {
      if (!ToDouble(w[i], &v[i - 1])) return "bad number: " + w[i];
    }
    Line l;
    l.motion = v[0];
    for (int i = 0; i < 3; ++i) {
      l.p1[i] = v[1 + i];
      l.p2[i] = v[4 + i];
    }
    l.feed = v[7];
    l.radius = v[8];
    script->lines.push_back(l);
  } else if (op == "diagonal" && w.size() >= 2 && w.size() <= 4 && ToInt(w[1], &n) && n >= 0) {
    double length = 0.1, feed = 500;
    if (w.size() >= 3 && !ToDouble(w[2], &length)) return "bad length";
    if (w.size() >= 4 && !ToDouble(w[3], &feed)) return "bad feed";
    AddDiagonals(script, n, length, feed);
  } else if (op == "demo" && w.size() == 1) {
    AddDemo(script);
  } else if (op == "queries" && w.size() == 2 &&
             (w[1] == "methods" || w[1] == "properties" || w[1] == "both")) {
    script->queryMethods = w[1] != "properties";
    script->queryProperties = w[1] != "methods";
  } else if (op == "beyond" && w.size() == 2 && (w[1] == "error" || w[1] == "zero")) {
    script->beyondIsError = w[1] == "error";
  } else if (op == "quit-after" && w.size() == 2 && ToInt(w[1], &n) && n >= 0) {
    script->quitAfter = n;
  } else if (op == "direct" && w.size() == 2) {
    script->directAddress = w[1];
  } else if (op == "record" && w.size() >= 2) {
    script->recordPath = RestAfter(line, 1);
  } else if (op == "value" && w.size() >= 3) {
    Rule r;
    if (!ParseTarget(w[1], &r)) return "bad member: " + w[1];
    r.kind = Rule::Kind::Value;
    r.type = w[2];
    r.value = Unescape(RestAfter(line, 3));
    script->rules.push_back(r);
  } else if (op == "error" && w.size() >= 3) {
    Rule r;
    if (!ParseTarget(w[1], &r)) return "bad member: " + w[1];
    r.kind = Rule::Kind::Error;
    r.errorName = w[2];
    r.value = Unescape(RestAfter(line, 3));
    script->rules.push_back(r);
  } else if (op == "hang" && w.size() == 2) {
    Rule r;
    if (!ParseTarget(w[1], &r)) return "bad member: " + w[1];
    r.kind = Rule::Kind::Hang;
    script->rules.push_back(r);
  } else {
    return "unknown or malformed directive: " + line;
  }
  return "";
}

}  // namespace testhost
