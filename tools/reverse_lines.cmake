# Writes the lines of IN to OUT in reverse order (cmake -DIN=... -DOUT=... -P).
file(STRINGS "${IN}" lines)
list(REVERSE lines)
list(JOIN lines "\n" text)
file(WRITE "${OUT}.tmp" "${text}\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
