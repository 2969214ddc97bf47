# The lane's time factor (tools/lib/time_floor.py), 1 until one is measured:
# whole-run limits grow with it. scaled SECONDS prints SECONDS times the factor.
scaled() {
  awk -v s="$1" -v f="${TRAYMARK_TIME_FACTOR:-1}" 'BEGIN { x = s * (f < 1 ? 1 : f); print (x == int(x)) ? x : int(x) + 1 }'
}
