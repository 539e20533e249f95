#include "host/Orv_List.h"

void Orv_List::Add(const char* item) { items_.emplace_back(item != nullptr ? item : ""); }

int Orv_List::Count() const { return static_cast<int>(items_.size()); }

const std::string& Orv_List::At(int index) const { return items_.at(static_cast<std::size_t>(index)); }

void Orv_List::Clear() { items_.clear(); }
