#include "ui/messagebox.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

class StandardErrorBoxes : public IMessageBoxes {
 public:
  int Show(const std::string& text, unsigned /*style*/, int /*helpContext*/) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return kIdOk;
  }
};

StandardErrorBoxes standardError;
std::atomic<IMessageBoxes*> current{nullptr};

}  // namespace

IMessageBoxes& MessageBoxes() {
  IMessageBoxes* boxes = current.load();
  return boxes ? *boxes : standardError;
}

void SetMessageBoxes(IMessageBoxes* boxes) { current.store(boxes); }

}  // namespace platform
