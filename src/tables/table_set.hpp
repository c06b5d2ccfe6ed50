// The loaded BUFR tables: Table B elements, Table D sequences and code/flag tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwel {

struct ElementDefinition {
  uint32_t code = 0;
  std::string abbreviation;
  std::string element_type;
  std::string name;
  std::string unit;
  int32_t scale = 0;
  int64_t reference = 0;
  uint16_t width = 0;
};

struct SequenceDefinition {
  uint32_t code = 0;
  std::vector<uint32_t> members;
};

// Code figure (the raw value as read) -> meaning text.
using CodeTable = std::unordered_map<uint64_t, std::string>;

// Filled by exactly one loader, read-only afterwards. Entries are node-based, so
// pointers handed out by the lookups stay valid for the set's lifetime.
class TableSet {
 public:
  const ElementDefinition* get_element(uint32_t code) const {
    auto it = elements_.find(code);
    return it == elements_.end() ? nullptr : &it->second;
  }
  const SequenceDefinition* get_sequence(uint32_t code) const {
    auto it = sequences_.find(code);
    return it == sequences_.end() ? nullptr : &it->second;
  }
  const CodeTable* get_code_table(uint32_t code) const {
    auto it = code_tables_.find(code);
    return it == code_tables_.end() ? nullptr : &it->second;
  }
  std::size_t element_count() const { return elements_.size(); }
  std::size_t sequence_count() const { return sequences_.size(); }
  std::size_t code_table_count() const { return code_tables_.size(); }

  // Every entry, in no particular order.
  const std::unordered_map<uint32_t, ElementDefinition>& elements() const { return elements_; }
  const std::unordered_map<uint32_t, SequenceDefinition>& sequences() const { return sequences_; }
  const std::unordered_map<uint32_t, CodeTable>& code_tables() const { return code_tables_; }

  // Inserts replace whatever was stored under the same code.
  void insert_element(ElementDefinition element) {
    const uint32_t code = element.code;
    elements_.insert_or_assign(code, std::move(element));
  }
  void insert_sequence(SequenceDefinition sequence) {
    const uint32_t code = sequence.code;
    sequences_.insert_or_assign(code, std::move(sequence));
  }
  void insert_code_table(uint32_t code, CodeTable table) {
    code_tables_.insert_or_assign(code, std::move(table));
  }

 private:
  std::unordered_map<uint32_t, ElementDefinition> elements_;
  std::unordered_map<uint32_t, SequenceDefinition> sequences_;
  std::unordered_map<uint32_t, CodeTable> code_tables_;
};

// The meaning of `raw` in the code or flag table of element `code`, or nullptr.
inline const std::string* lookup_meaning(const TableSet& tables, uint32_t code, uint64_t raw) {
  const CodeTable* table = tables.get_code_table(code);
  if (table == nullptr) return nullptr;
  auto it = table->find(raw);
  return it == table->end() ? nullptr : &it->second;
}

}  // namespace tarnwel
