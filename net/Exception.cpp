#include "net/Exception.h"

#include "net/Utility.h"

Exception::Exception(const std::string& description) : m_description(description), m_stack(Utility::Stack()) {}

Exception::~Exception() = default;

std::string Exception::ToString() const { return m_description; }

std::string Exception::Stack() const { return m_stack; }
