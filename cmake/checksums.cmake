# Writes the MD5 digest of each file in FILES (names in the working folder) to
# OUTPUT, one line "<digest>  <name>" each: the payload carries the digests of
# its files, so that an installation need not compute them again.
set(lines "")
foreach(name IN LISTS FILES)
  file(MD5 "${name}" digest)
  string(APPEND lines "${digest}  ${name}\n")
endforeach()
file(WRITE "${OUTPUT}" "${lines}")
