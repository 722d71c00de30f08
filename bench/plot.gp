# The benchmark's plot, from the data run.sh leaves in dir: round-trip latency by percentile,
# and how the round trip, the identity lookup and the server's resources grow with the work.
# gnuplot -e "dir='bench/results'" bench/plot.gp > bench/results/bench.svg
set terminal svg size 1200,900 dynamic font "sans,11"
set multiplot layout 2,2
set grid
set key top left

stats dir."/sessions.dat" using 1 nooutput prefix "S"
set title "hash round trip per trip, by percentile"
set xlabel "percentile"
set ylabel "ms per trip"
set logscale y
plot dir."/trips-1.dat" using 1:2 with lines lw 2 title "1 session", \
     dir."/trips-4.dat" using 1:2 with lines lw 2 title "4 sessions", \
     dir."/trips-sessions.dat" using 1:2 with lines lw 2 title sprintf("1 session, %d others live", S_max)
unset logscale y

set title "round trip and memory with live sessions"
set xlabel "live sessions (3 values each)"
set ylabel "ms per trip"
set y2label "server RSS (MiB)"
set y2tics
plot dir."/sessions.dat" using 1:2 with linespoints lw 2 title "p50", \
     dir."/sessions.dat" using 1:3 with linespoints lw 2 title "p99", \
     dir."/sessions.dat" using 1:($4/1024) axes x1y2 with linespoints lw 2 title "RSS"
unset y2tics
unset y2label

set title "identity lookup of a new connection (server's own timing)"
set xlabel "loopback sockets held by the bench (300 extra processes from 2,500 on)"
set ylabel "µs"
set logscale y
plot dir."/sockets.dat" using 1:3 with linespoints lw 2 title "p50", \
     dir."/sockets.dat" using 1:4 with linespoints lw 2 title "p99"
unset logscale y

set title "server resources under mixed traffic (first sample: after warm-up)"
set xlabel "thousand requests (incl. malformed and vanishing clients)"
set ylabel "share of the warm-up figure"
stats dir."/mixed.dat" every ::0::0 using 2:3 nooutput prefix "W"
stats dir."/mixed.dat" every ::0::0 using 4 nooutput prefix "F"
set yrange [0.5:1.5]
plot dir."/mixed.dat" using ($1/1000):($2/W_min_x) with linespoints lw 2 title "RSS", \
     dir."/mixed.dat" using ($1/1000):($3/W_min_y) with linespoints lw 2 title "threads", \
     dir."/mixed.dat" using ($1/1000):($4/F_min) with linespoints lw 2 title "open files"
unset multiplot
