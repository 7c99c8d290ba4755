-- wrk script: every request posts a distinct report (own account, own MAC), as the checker would.
-- The path comes from the environment so the same script drives the real endpoint and the fixed reply. With
-- BENCH_PATH=/status it asks 查询资格 instead, for the accounts run BENCH_RUN posted, one account a request.
local threads = {}
local counter = 0

function setup(thread)
  thread:set("id", #threads)
  table.insert(threads, thread)
end

function init(args)
  failures = 0
  successes = 0
  path = os.getenv("BENCH_PATH") or "/act/score/pcinfo/add"
  run = os.getenv("BENCH_RUN") or "0"
end

function request()
  counter = counter + 1
  local n = counter
  if path == "/status" then
    return wrk.format("GET", string.format("/status?account=BENCH%s-%d-%d", run, id, n))
  end
  local account = string.format("bench%s-%d-%d", run, id, n)
  local mac = string.format("%02X-%02X-%02X-%02X-%02X-%02X", tonumber(run) % 256, id % 256,
    math.floor(n / 16777216) % 256, math.floor(n / 65536) % 256, math.floor(n / 256) % 256, n % 256)
  local body = string.format('{"param":["%s","%s","%s","Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz",4,3292,'
    .. '"8192","GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0","1920 x 1080",'
    .. '"Windows 7 Professional 64-Bit","PC%d","","",""]}', account, account, mac, n)
  return wrk.format("POST", path, {["Accept"] = "Application/json", ["Content-Type"] = "Application/json"}, body)
end

function response(status, headers, body)
  local answered = path == "/status" and (string.find(body, "未入选", 1, true) or string.find(body, "尚未报名", 1, true))
  if status == 200 and (answered or string.find(body, '"code":0', 1, true)) then
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
