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
  std::string contextText;        // appended to every recorded text; nothing sets it
  std::string errorText;          // the latest failure
  std::string previousErrorText;  // the failure before it
};

#endif
