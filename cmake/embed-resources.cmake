# Writes the dialog template and its identifiers into a C++ source as one string, which the
# Linux layer parses at DialogBoxParamA. The header's text comes first, so its #defines are
# known when the script names them.
file(READ ${HEADER} header_text)
file(READ ${SCRIPT} script_text)
file(WRITE ${OUT} "// Generated from res/resource.h and res/measure.rc; do not edit.\n"
    "extern const char w32_resource_script[];\n"
    "const char w32_resource_script[] = R\"w32rc(${header_text}\n${script_text})w32rc\";\n")
