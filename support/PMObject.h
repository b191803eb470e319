// Common base of the library classes: holds the object's latest failure as text.
//
// Operations never throw, print or log; they record a fixed literal with ReportError and
// answer their failure result. The caller reads the text with GetErrorText when it wants
// to log or show it.
#ifndef PM_PMOBJECT_H
#define PM_PMOBJECT_H

#include <string>

#include "PMEventSource.h"

class PMObject : public PMEventSource {
 public:
  PMObject();
  ~PMObject() override;

  // Records text followed by "->System Error: " and the context text; the text it
  // replaces becomes the previous error text.
  void ReportError(std::string text);
  // The latest recorded failure, or the empty text. A later success does not clear it.
  std::string GetErrorText() const;

 protected:
  // Appended to every recorded text. Nothing sets it: it is kept because the class's fields
  // are part of its published shape (every derived class and copy carries all three texts).
  std::string contextText;
  std::string errorText;  // the latest failure
  // The failure before it. Nothing reads it: kept for the same published shape.
  std::string previousErrorText;
};

#endif
