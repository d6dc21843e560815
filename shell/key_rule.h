// The key-press rule of the main window.
#ifndef SHELL_KEY_RULE_H_
#define SHELL_KEY_RULE_H_

namespace shell {

// Returns the character a typed code unit becomes: "a" to "z" lose bit 0x20
// and become "A" to "Z"; every other code unit comes back unchanged.
constexpr char16_t TypedKeyRule(char16_t key) {
  return (key >= u'a' && key <= u'z') ? static_cast<char16_t>(key & ~0x20) : key;
}

}  // namespace shell

#endif  // SHELL_KEY_RULE_H_
