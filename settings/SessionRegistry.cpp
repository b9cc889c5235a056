// The registry accessor that keeps its values in memory: the settings of a session whose
// store cannot be written. The program works on with them; they are gone when it ends.
#include <map>
#include <set>
#include <string>
#include <utility>

#include "RegistryAccessor.h"

namespace quorvex {
namespace {

class SessionRegistry final : public RegistryAccessor {
 public:
  void SetRootKey(RootKey root) override { root_ = root; }

  bool KeyExists(const std::string& key) override { return keys_.contains({root_, key}); }

  bool OpenKey(const std::string& key, bool canCreate) override {
    if (!KeyExists(key)) {
      if (!canCreate) return false;
      keys_.insert({root_, key});
    }
    current_ = {root_, key};
    open_ = true;
    return true;
  }

  std::string ReadString(const std::string& name) override {
    if (!open_) return {};
    const auto found = values_.find({current_, name});
    return found == values_.end() ? std::string() : found->second;
  }

  void WriteString(const std::string& name, const std::string& value) override {
    if (!open_) throw RegistryError(FailedToSetMessage(name));
    values_[{current_, name}] = value;
  }

 private:
  using Key = std::pair<RootKey, std::string>;
  RootKey root_ = RootKey::CurrentUser;
  std::set<Key> keys_;
  std::map<std::pair<Key, std::string>, std::string> values_;
  Key current_;
  bool open_ = false;
};

}  // namespace

std::unique_ptr<RegistryAccessor> MakeSessionRegistryAccessor() {
  return std::make_unique<SessionRegistry>();
}

}  // namespace quorvex
