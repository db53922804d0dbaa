// The exports every decoding input module has, compiled into each module: Query gives the
// module's description, Initialise binds the shared body to the record, and the module offers
// no settings page. The module supplies moduleDescription() and makeModuleDecoder().
#include "DecodingModule.h"
#include "TessuraPluginAbi.h"

extern "C" {

TESSURA_EXPORT const ModuleDescription* Query() {
    return &tessura_plugin::moduleDescription();
}

TESSURA_EXPORT int32_t Initialise(InputModuleRecord* record) {
    if (record == nullptr || !tessura_plugin::startModuleLibrary()) return 0;
    tessura_plugin::bindDecodingModule(record, &tessura_plugin::makeModuleDecoder);
    return 1;
}

TESSURA_EXPORT int32_t Shutdown(InputModuleRecord*) {
    tessura_plugin::releaseDecodingModule();
    return 1;
}

TESSURA_EXPORT int32_t Configure(ConfigureRecord*) {
    return 0;  // no settings page
}

TESSURA_EXPORT int32_t ExtendedInfo(char* buffer, uint32_t* size, InputModuleRecord*) {
    return tessura_plugin::copyInfoHtml(buffer, size);
}

}  // extern "C"
