// The fuzzing entry for a hostile shared record: the bytes become the records of a few
// maps, written as a broken or malicious map server could write them, and every reader of
// the manager's goes over them: the cells of both list views, the grid's cell rule, the log
// lights, the base information reply of the status link and the /metrics page. Nothing
// may crash, hang, read past a field or produce a reply that does not parse.
#pragma once

#include <cstddef>
#include <cstdint>

int FuzzHostileRecord(const uint8_t* data, std::size_t size);
