-- One module round trip per cycle on one keep-alive connection: OPEN_SESSION once, then
-- POST hash/SHA256 (202) and GET_RESULT until 200.
local session, command, trips = nil, nil, 0

local function header(headers, name)
  return headers[name] or headers[string.lower(name)]
end

function setup(thread)
  threads = threads or {}
  table.insert(threads, thread)
end

function request()
  if session == nil then
    return wrk.format("POST", "/OPEN_SESSION")
  end
  local headers = { ["X-VYR-sessionId"] = session }
  if command == nil then
    return wrk.format("POST", "/hash/SHA256?data=benchmark", headers)
  end
  headers["X-VYR-cmdId"] = command
  return wrk.format("POST", "/GET_RESULT", headers)
end

function response(status, headers, body)
  if session == nil then
    session = body
  elseif command == nil and status == 202 then
    command = header(headers, "X-VYR-cmdId")
  elseif command ~= nil and status == 200 then
    command = nil
    trips = trips + 1
    wrk.thread:set("trips", trips)
  end
end

function done(summary, latency, requests)
  local total = 0
  for _, thread in ipairs(threads) do
    total = total + (thread:get("trips") or 0)
  end
  io.write(string.format("ROUNDTRIPS_PER_SEC %.1f\n", total / (summary.duration / 1e6)))
end
