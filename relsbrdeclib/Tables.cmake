# Frequency band tables and envelope decoding of the SBR decoder.
target_sources(relsbrdeclib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SbrFreqTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SbrEnvelopeDecoder.cpp
)
