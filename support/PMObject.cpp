#include "PMObject.h"

#include <utility>

PMObject::PMObject() = default;

PMObject::~PMObject() = default;

void PMObject::ReportError(std::string text) {
  previousErrorText = errorText;
  text += "->System Error: ";
  text += contextText;
  errorText = std::move(text);
}

std::string PMObject::GetErrorText() const { return errorText; }
