#include "refhost/core/parameters.h"

#include <algorithm>

#include "refhost/core/gcode_error.h"

namespace refhost {

namespace {

template <class Vec, class Key>
auto Lower(Vec& vec, const Key& key) {
  return std::lower_bound(vec.begin(), vec.end(), key,
                          [](const auto& entry, const Key& k) { return entry.first < k; });
}

template <class Vec, class Key>
bool Find(const Vec& vec, const Key& key, double& value) {
  auto it = Lower(vec, key);
  if (it == vec.end() || it->first != key) return false;
  value = it->second;
  return true;
}

template <class Vec, class Key>
void Set(Vec& vec, const Key& key, double value) {
  auto it = Lower(vec, key);
  if (it != vec.end() && it->first == key) {
    it->second = value;
  } else {
    vec.emplace(it, typename Vec::value_type(key, value));
  }
}

}  // namespace

Parameters::Parameters() : data_(new Data) {}

Parameters::Parameters(const Parameters& other) : data_(other.data_) { ++data_->owners; }

Parameters& Parameters::operator=(const Parameters& other) {
  if (data_ != other.data_) {
    ++other.data_->owners;
    Release();
    data_ = other.data_;
  }
  return *this;
}

Parameters::~Parameters() { Release(); }

void Parameters::Release() {
  if (--data_->owners == 0) delete data_;
}

Parameters::Data& Parameters::Own() {
  if (data_->owners > 1) {
    Data* copy = new Data(*data_);
    copy->owners = 1;
    --data_->owners;
    data_ = copy;
  }
  return *data_;
}

double Parameters::Numbered(int n) const {
  if (n <= kLocalCount) return data_->frames.back().local[static_cast<std::size_t>(n - 1)];
  double value = 0.0;
  Find(data_->numbered, n, value);
  return value;
}

void Parameters::SetNumbered(int n, double value) {
  // An assignment of the value already held shares the data on.
  if (n <= kLocalCount) {
    if (data_->frames.back().local[static_cast<std::size_t>(n - 1)] == value) return;
    Own().frames.back().local[static_cast<std::size_t>(n - 1)] = value;
    return;
  }
  double present = 0.0;
  if (Find(data_->numbered, n, present) && present == value) return;
  Set(Own().numbered, n, value);
}

bool Parameters::FindNamed(std::string_view name, double& value) const {
  if (!name.empty() && name[0] == '_') return Find(data_->global, name, value);
  return Find(data_->frames.back().named, name, value);
}

void Parameters::SetNamed(std::string_view name, double value) {
  Data& data = Own();
  if (!name.empty() && name[0] == '_') {
    Set(data.global, std::string(name), value);
  } else {
    Set(data.frames.back().named, std::string(name), value);
  }
}

void Parameters::PushFrame(const double* args, std::size_t count) {
  if (Depth() >= kMaxCallDepth) {
    throw GcodeError("subroutine calls nest deeper than " + std::to_string(kMaxCallDepth));
  }
  Data& data = Own();
  Frame frame;
  frame.local = data.frames.back().local;
  count = std::min<std::size_t>(count, kLocalCount);
  for (std::size_t i = 0; i < count; ++i) frame.local[i] = args[i];
  data.frames.push_back(std::move(frame));
}

void Parameters::PopFrame() {
  Data& data = Own();
  if (data.frames.size() > 1) data.frames.pop_back();
}

int Parameters::Depth() const { return static_cast<int>(data_->frames.size()) - 1; }

}  // namespace refhost
