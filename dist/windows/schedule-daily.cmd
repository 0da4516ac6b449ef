@echo off
rem Creates the scheduled task that makes the day's Backup Report at 06:00 every day, from the
rem job listing and job marker in C:\Ravel\site, and keeps the site's history there: the
rem dashboard index.html and the metrics ravel.prom. Run it once, in a command prompt started as
rem administrator; change the folder or the time to suit the site.
schtasks /create /tn "Ravel daily report" /tr "\"%ProgramFiles%\Ravel\bin\ravelrun-tinted.exe\" --folder C:\Ravel\site --history" /sc daily /st 06:00
