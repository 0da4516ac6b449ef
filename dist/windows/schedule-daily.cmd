@echo off
rem Creates the scheduled tasks of a site. Run it once, in a command prompt started as
rem administrator; change the folders or the times to suit the site.
rem The first makes the day's Backup Report at 06:00 every day, from the job listing and job
rem marker in C:\Ravel\site, and keeps the site's history there: the dashboard index.html and
rem the metrics ravel.prom.
schtasks /create /tn "Ravel daily report" /tr "\"%ProgramFiles%\Ravel\bin\ravelrun-tinted.exe\" --folder C:\Ravel\site --history" /sc daily /st 06:00
rem The second refreshes the overview page C:\Ravel\index.html half an hour later from that
rem history, only reading it: a row per site, linking to its dashboard, critical once the last
rem daily run is more than 26 hours old. More sites: name their folders after the first.
schtasks /create /tn "Ravel overview page" /tr "\"%ProgramFiles%\Ravel\bin\ravel-status.exe\" --html C:\Ravel\index.html C:\Ravel\site" /sc daily /st 06:30
