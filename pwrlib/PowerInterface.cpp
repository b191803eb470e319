#include "PowerInterface.h"

#include <memory>
#include <mutex>
#include <vector>

#include "PowerInterfaceProbe.h"

PowerInterface::~PowerInterface() = default;

namespace {

struct Choice {
  std::mutex mutex;
  PowerInterface* current = nullptr;
  // Every interface chosen so far, the current one last: objects hold references to the
  // interface they were built with, so none goes before the process ends.
  std::vector<std::unique_ptr<PowerInterface>> made;
};

Choice& TheChoice() {
  static Choice choice;
  return choice;
}

}  // namespace

PowerInterface& ThePowerInterface() {
  Choice& choice = TheChoice();
  std::lock_guard<std::mutex> lock(choice.mutex);
  if (choice.current == nullptr) {
    choice.made.push_back(ProbePowerInterface());
    choice.current = choice.made.back().get();
  }
  return *choice.current;
}

void ChoosePowerInterfaceAgain() {
  Choice& choice = TheChoice();
  std::lock_guard<std::mutex> lock(choice.mutex);
  choice.made.push_back(ProbePowerInterface());
  choice.current = choice.made.back().get();
}
