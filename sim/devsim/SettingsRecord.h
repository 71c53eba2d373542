// The simulator's own reading of the 280-byte settings record that travels
// as the CONFIG payload: every field by name, offset and type, the record's
// defaults, and edits by field name ("volume", "effect[1].comb0").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

constexpr size_t RECORD_SIZE = 280;

enum class FieldType { U32, S32, F32 };

struct RecordField {
  std::string name;
  uint32_t offset;
  FieldType type;
};

// Every field of the record, in record order (effect blocks expanded).
const std::vector<RecordField>& RecordFields();
const RecordField* FindRecordField(const std::string& name);

using Record = std::vector<uint8_t>;  // RECORD_SIZE bytes

// The record as a freshly started program has it.
Record DefaultRecord();

uint32_t GetU32(const Record& record, uint32_t offset);
int32_t GetS32(const Record& record, uint32_t offset);
float GetF32(const Record& record, uint32_t offset);

// Sets a field from text (a number; floats for f32 fields). False when the
// text is not a number of the field's type.
bool SetRecordField(Record& record, const RecordField& field, const std::string& text);

// {"streamToken":1,...,"effect[0].comb0":3040,...} with every field.
std::string RecordToJson(const Record& record);

}  // namespace sim
