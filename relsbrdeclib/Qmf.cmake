# The QMF banks, with the prototype generated from tables/qmf_window.txt.
set(RELSBRDEC_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${RELSBRDEC_GENERATED_DIR})
add_custom_command(
  OUTPUT ${RELSBRDEC_GENERATED_DIR}/QmfPrototype.cpp
  COMMAND float_table_gen ${CMAKE_CURRENT_LIST_DIR}/tables/qmf_window.txt
          ${RELSBRDEC_GENERATED_DIR}/QmfPrototype.cpp SbrQmf.h velora::sbr kQmfPrototype 640
  DEPENDS float_table_gen ${CMAKE_CURRENT_LIST_DIR}/tables/qmf_window.txt
  COMMENT "Generating the QMF prototype"
  VERBATIM)
target_sources(relsbrdeclib PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SbrQmf.cpp
  ${RELSBRDEC_GENERATED_DIR}/QmfPrototype.cpp)
