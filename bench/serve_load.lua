-- wrk script for the tagging service benchmark. Arguments after "--":
--   MODE [N]: "unique" (a new code every request), "codes N" (N codes in
--   turn), "fixed" (one URL); optional "pace MS" (each connection waits MS
--   between requests).
-- done() prints one JSON line the benchmark reads.
local thread_count = 0

function setup(thread)
  thread_count = thread_count + 1
  thread:set("id", thread_count)
end

local mode, codes, pace = "fixed", 1, nil
local counter = 0
local run = tostring(os.time())

function init(args)
  local i = 1
  while i <= #args do
    if args[i] == "pace" then pace = tonumber(args[i + 1]); i = i + 2
    elseif args[i] == "codes" then mode = "codes"; codes = tonumber(args[i + 1]); i = i + 2
    else mode = args[i]; i = i + 1 end
  end
end

function request()
  counter = counter + 1
  local code
  if mode == "unique" then
    code = "u" .. run .. "t" .. wrk.thread:get("id") .. "n" .. counter
  elseif mode == "codes" then
    code = "c" .. (counter % codes)
  else
    code = "Bench1234"
  end
  return wrk.format("GET", wrk.path .. "?code=" .. code)
end

-- wrk looks for delay() before init() runs, so it is always there.
function delay()
  return pace or 0
end

function done(summary, latency, requests)
  local errors = summary.errors.connect + summary.errors.read + summary.errors.write +
                 summary.errors.status + summary.errors.timeout
  io.write(string.format('{"requests": %d, "seconds": %.3f, "p50_ms": %.3f, "p99_ms": %.3f, "errors": %d}\n',
                         summary.requests, summary.duration / 1e6, latency:percentile(50) / 1000,
                         latency:percentile(99) / 1000, errors))
end
