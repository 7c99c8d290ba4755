-- wrk script: players asking 查询资格 for the accounts the report run enrolled (BENCH_RUN's), each request
-- another account, as many players would.
local threads = {}
local counter = 0

function setup(thread)
  thread:set("id", #threads)
  table.insert(threads, thread)
end

function init(args)
  failures = 0
  successes = 0
  run = os.getenv("BENCH_RUN") or "2"
end

function request()
  counter = counter + 1
  return wrk.format("GET", string.format("/status?account=BENCH%s-%d-%d", run, id, counter))
end

function response(status, headers, body)
  if status == 200 and (string.find(body, "未入选", 1, true) or string.find(body, "尚未报名", 1, true)) then
    successes = successes + 1
  else
    failures = failures + 1
  end
end

function done(summary, latency, requests)
  local ok, bad = 0, 0
  for _, t in ipairs(threads) do
    ok = ok + t:get("successes")
    bad = bad + t:get("failures")
  end
  local seconds = summary.duration / 1e6
  io.write(string.format("RESULT %.0f %.2f %d %d %d\n", summary.requests / seconds,
    latency:percentile(99) / 1000, ok, bad, summary.errors.connect + summary.errors.read + summary.errors.write
    + summary.errors.timeout))
end
