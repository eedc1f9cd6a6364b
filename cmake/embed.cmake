# Writes OUT, a C++ file defining devhost::SYMBOL as the text of file IN.
file(READ ${IN} content)
file(WRITE ${OUT}
  "// Generated from ${IN}; do not edit.\n"
  "namespace devhost {\n"
  "extern const char ${SYMBOL}[];\n"
  "const char ${SYMBOL}[] = R\"embedded(${content})embedded\";\n"
  "}  // namespace devhost\n")
