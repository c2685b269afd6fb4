-- wrk script: each request uploads a 100 KB AMR ringtone, to the accounts listed in the
-- SKYLET_ACCOUNTS environment variable ("1,2,3") in turn, as many phones' owners would.
local boundary = "----tolvanebench7e71a2b3c4"
local ringtone = "#!AMR\n" .. string.rep("\60\0\1\2\3\4\5\6\7\8\9\10\11\12\13\14", 6400)
local body = "--" .. boundary .. "\r\n" ..
  "Content-Disposition: form-data; name=\"file\"; filename=\"bench.amr\"\r\n" ..
  "Content-Type: application/octet-stream\r\n\r\n" .. ringtone .. "\r\n--" .. boundary .. "--\r\n"
wrk.method = "POST"
local accounts = {}
for account in string.gmatch(os.getenv("SKYLET_ACCOUNTS"), "[^,]+") do
  accounts[#accounts + 1] = account
end
local turn = 0
wrk.body = body
wrk.headers["Content-Type"] = "multipart/form-data; boundary=" .. boundary

function request()
  turn = turn % #accounts + 1
  return wrk.format(nil, "/upload.ashx?id=" .. accounts[turn])
end

function response(status, headers, reply)
  if status ~= 200 or reply ~= "OK" then
    io.stderr:write("upload refused: " .. status .. " " .. reply .. "\n")
  end
end
